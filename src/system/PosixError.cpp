#include "system/PosixError.h"

#include <cerrno>
#include <string>

namespace quorvane::PosixError {

namespace {

// The causes a user can act on, in the window's language; the rest keep the platform's text.
const char* russianText(int code) {
    switch (code) {
        case ENOSPC:
            return "На диске не осталось места. Освободите место и повторите.";
        case EDQUOT:
            return "Исчерпана дисковая квота пользователя. Освободите место и повторите.";
        case EACCES:
            return "Нет прав доступа к файлу или папке.";
        case EPERM:
            return "Система не разрешила эту операцию с файлом или папкой.";
        case EROFS:
            return "Диск доступен только для чтения.";
        case ENOTDIR:
            return "Часть пути к файлу не является папкой.";
        case EIO:
            return "Ошибка ввода-вывода при обращении к диску.";
        case EADDRINUSE:
            return "Путь сокета уже занят другим файлом или программой.";
        default:
            return nullptr;
    }
}

// Errno values with Russian messages; comparisons with std::errc still hold.
class PosixCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "posix"; }

    std::string message(int code) const override {
        const char* text = russianText(code);
        return text != nullptr ? std::string(text) : std::generic_category().message(code);
    }

    std::error_condition default_error_condition(int code) const noexcept override {
        return {code, std::generic_category()};
    }
};

}  // namespace

const std::error_category& category() {
    static const PosixCategory instance;
    return instance;
}

std::system_error fromCode(int code) {
    return std::system_error(code != 0 ? code : EIO, category());
}

void throwErrno() {
    throw fromCode(errno);
}

}  // namespace quorvane::PosixError
