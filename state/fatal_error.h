// Fatal errors: raised anywhere while the wizard runs, shown once by the
// application's top level in a box captioned "Error", exit code 2.
#pragma once

#include <cstdint>
#include <variant>

#include "state/text.h"

namespace quentar {

constexpr uint32_t kFatalExitCode = 2;

class FatalError {
public:
    // A numeric error: its message is string-table entry (code - 777).
    // `cause` says in words what went wrong, for the log; the message box
    // shows only the message.
    static FatalError Code(int32_t code, U16String cause = U16String()) {
        FatalError error(code);
        error.cause_ = std::move(cause);
        return error;
    }
    // A text error: the message is the text itself.
    static FatalError Text(U16String text) { return FatalError(std::move(text)); }

    bool IsCode() const { return std::holds_alternative<int32_t>(value_); }
    int32_t code() const { return std::get<int32_t>(value_); }
    const U16String& text() const { return std::get<U16String>(value_); }
    // What went wrong, in words; empty when the message says it all.
    const U16String& cause() const { return cause_; }

    // String-table id that holds the message of a numeric error: the code
    // minus 777, truncated to 16 bits.
    static uint16_t MessageId(int32_t code) {
        return static_cast<uint16_t>(static_cast<uint32_t>(code) - 777u);
    }

private:
    explicit FatalError(int32_t code) : value_(code) {}
    explicit FatalError(U16String text) : value_(std::move(text)) {}
    std::variant<int32_t, U16String> value_;
    U16String cause_;
};

}  // namespace quentar
