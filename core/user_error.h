#pragma once
// An error whose message is meant for the user as it stands. The window shows it in the error
// box and goes on; the command line prints it and exits with status 1.

#include <stdexcept>
#include <string>

class UserError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
