#pragma once

#include <exception>
#include <string>

namespace testsupport {

// The what() of the exception `f` throws, or "<no error>".
template <class F>
std::string errorText(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no error>";
}

} // namespace testsupport
