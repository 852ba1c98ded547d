// Errors that escape a handler reach the general error report, which shows
// their message. EAbort is the silent kind: it ends the handler and shows
// nothing.
#pragma once

#include <stdexcept>
#include <string>

class EAbort : public std::exception {
public:
    const char* what() const noexcept override { return "Operation aborted"; }
};

// An error whose message is shown to the user as it stands.
class EOrvantaError : public std::runtime_error {
public:
    explicit EOrvantaError(const std::string& message) : std::runtime_error(message) { }
};
