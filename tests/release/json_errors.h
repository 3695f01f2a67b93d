#pragma once
// The JSON library's own exception texts, computed the way the readers meet them, so that tests
// assert the exact text a reader passes on without copying library wording into the tests.
#include <nlohmann/json.hpp>

#include <string>

namespace df::test {

// The text of the library's parse error for text (empty when it parses).
inline std::string parse_error_text(const std::string& text) {
    try {
        auto value = nlohmann::json::parse(text, nullptr, true, false);
        (void)value;
    } catch (const nlohmann::json::exception& e) {
        return e.what();
    }
    return {};
}

// The text of the library's type error when value is read as T.
template <typename T>
std::string type_error_text(const nlohmann::json& value) {
    try {
        auto read = value.get<T>();
        (void)read;
    } catch (const nlohmann::json::exception& e) {
        return e.what();
    }
    return {};
}

}  // namespace df::test
