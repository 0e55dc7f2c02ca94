#ifndef SKARN_TEST_EXPECT_THROW_H
#define SKARN_TEST_EXPECT_THROW_H

#include "api/SkarnException.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

// What a test expects of a raised SkarnException: code, the catalogue message
// number of its first message, the literal text of a second message (empty:
// none), and the function text of the first back-trace entry.
struct ExpectedSkarnError {
    int code;
    unsigned int message;
    std::string literal;
    std::string function;
};

// Runs `body`, which must raise a SkarnException, and checks it against `want`.
// Returns the exception for further checks.
SkarnException expectSkarnError(const std::function<void()>& body, const ExpectedSkarnError& want);

// The texts of all parameters of message `i`, joined with '|'.
std::string parmsOf(const VexException& e, std::size_t i = 0);

#endif
