// Several results compared in one expectation, each under its name, so that a failure says which
// call or field differs and a reader can check each value against what the call documents.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

namespace support {

// "name=value" for each pair, in order, separated by single spaces. The pairs of a braced list
// are evaluated left to right, so calls with side effects can be listed in the order they run.
inline std::string Results(std::initializer_list<std::pair<const char*, long long>> results) {
    std::string text;
    for (const auto& [name, value] : results)
        text += (text.empty() ? "" : " ") + std::string(name) + "=" + std::to_string(value);
    return text;
}

}  // namespace support

// A result named by the expression that gives it, for support::Results.
#define NAMED(...) std::pair<const char*, long long>(#__VA_ARGS__, (__VA_ARGS__))
