// SPDX-License-Identifier: MIT
// A small JSON reader for the tool's tests: parses one JSON text (liuctl
// prints one per line) and gives typed access to its members.  Throws
// std::runtime_error for anything that is not well-formed JSON.
#pragma once

#include <string>
#include <vector>

namespace tooltest {

class JsonValue {
  public:
    enum class Kind { Null, Bool, Number, String, Array, Object };

    static JsonValue parse(const std::string& text);

    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::Null; }
    bool boolean() const;
    double number() const;
    const std::string& string() const;
    const std::vector<JsonValue>& array() const;
    // Object member; throws when absent.
    const JsonValue& operator[](const std::string& key) const;
    // Array element; throws when out of range.
    const JsonValue& operator[](std::size_t index) const;
    bool has(const std::string& key) const;
    // Member names in the order they appeared.
    const std::vector<std::string>& keys() const;

  private:
    class Parser;
    Kind kind_ = Kind::Null;
    bool bool_ = false;
    double number_ = 0;
    std::string string_;
    std::vector<JsonValue> items_;
    std::vector<std::string> keys_; // object: keys_[i] names items_[i]
};

} // namespace tooltest
