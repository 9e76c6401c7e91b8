// SPDX-License-Identifier: MIT
#include "JsonValue.h"

#include <cstdlib>
#include <stdexcept>

namespace tooltest {

class JsonValue::Parser {
  public:
    explicit Parser(const std::string& text) : text_(text) {}

    JsonValue document() {
        JsonValue value = parseValue();
        skipBlanks();
        if (position_ != text_.size()) {
            fail("text after the value");
        }
        return value;
    }

  private:
    [[noreturn]] void fail(const std::string& why) const {
        throw std::runtime_error("bad JSON at offset " + std::to_string(position_) + ": " + why +
                                 " in: " + text_);
    }

    void skipBlanks() {
        while (position_ < text_.size() &&
               std::string(" \t\r\n").find(text_[position_]) != std::string::npos) {
            ++position_;
        }
    }

    char peek() {
        skipBlanks();
        if (position_ >= text_.size()) {
            fail("unexpected end");
        }
        return text_[position_];
    }

    void expect(char c) {
        if (peek() != c) {
            fail(std::string("expected '") + c + "'");
        }
        ++position_;
    }

    bool literal(const char* word) {
        const std::string w(word);
        if (text_.compare(position_, w.size(), w) == 0) {
            position_ += w.size();
            return true;
        }
        return false;
    }

    std::string parseString() {
        expect('"');
        std::string out;
        while (position_ < text_.size() && text_[position_] != '"') {
            char c = text_[position_++];
            if (static_cast<unsigned char>(c) < 0x20) {
                fail("control character in string");
            }
            if (c == '\\') {
                if (position_ >= text_.size()) {
                    fail("unfinished escape");
                }
                const char e = text_[position_++];
                switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'u': {
                    if (position_ + 4 > text_.size()) {
                        fail("short \\u escape");
                    }
                    const long code = std::strtol(text_.substr(position_, 4).c_str(), nullptr, 16);
                    position_ += 4;
                    if (code > 0x7F) {
                        fail("non-ASCII \\u escape (not produced by liuctl)");
                    }
                    out += static_cast<char>(code);
                    break;
                }
                default:
                    fail("bad escape");
                }
            } else {
                out += c;
            }
        }
        expect('"');
        return out;
    }

    JsonValue parseValue() {
        JsonValue value;
        const char c = peek();
        if (c == '{') {
            ++position_;
            value.kind_ = Kind::Object;
            if (peek() == '}') {
                ++position_;
                return value;
            }
            do {
                std::string key = parseString();
                for (const auto& existing : value.keys_) {
                    if (existing == key) {
                        fail("duplicate key " + key);
                    }
                }
                expect(':');
                value.keys_.push_back(std::move(key));
                value.items_.push_back(parseValue());
            } while (peek() == ',' && (++position_, true));
            expect('}');
        } else if (c == '[') {
            ++position_;
            value.kind_ = Kind::Array;
            if (peek() == ']') {
                ++position_;
                return value;
            }
            do {
                value.items_.push_back(parseValue());
            } while (peek() == ',' && (++position_, true));
            expect(']');
        } else if (c == '"') {
            value.kind_ = Kind::String;
            value.string_ = parseString();
        } else if (literal("true")) {
            value.kind_ = Kind::Bool;
            value.bool_ = true;
        } else if (literal("false")) {
            value.kind_ = Kind::Bool;
        } else if (literal("null")) {
            value.kind_ = Kind::Null;
        } else {
            const char* start = text_.c_str() + position_;
            char* end = nullptr;
            value.number_ = std::strtod(start, &end);
            if (end == start || !(c == '-' || (c >= '0' && c <= '9'))) {
                fail("unexpected character");
            }
            value.kind_ = Kind::Number;
            position_ += static_cast<std::size_t>(end - start);
        }
        return value;
    }

    const std::string& text_;
    std::size_t position_ = 0;
};

JsonValue JsonValue::parse(const std::string& text) {
    return Parser(text).document();
}

namespace {
void require(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("JSON value is not ") + what);
    }
}
} // namespace

bool JsonValue::boolean() const {
    require(kind_ == Kind::Bool, "a boolean");
    return bool_;
}

double JsonValue::number() const {
    require(kind_ == Kind::Number, "a number");
    return number_;
}

const std::string& JsonValue::string() const {
    require(kind_ == Kind::String, "a string");
    return string_;
}

const std::vector<JsonValue>& JsonValue::array() const {
    require(kind_ == Kind::Array, "an array");
    return items_;
}

const JsonValue& JsonValue::operator[](const std::string& key) const {
    require(kind_ == Kind::Object, "an object");
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        if (keys_[i] == key) {
            return items_[i];
        }
    }
    throw std::runtime_error("JSON object has no member '" + key + "'");
}

const JsonValue& JsonValue::operator[](std::size_t index) const {
    require(kind_ == Kind::Array, "an array");
    if (index >= items_.size()) {
        throw std::runtime_error("JSON array index " + std::to_string(index) + " out of range");
    }
    return items_[index];
}

bool JsonValue::has(const std::string& key) const {
    require(kind_ == Kind::Object, "an object");
    for (const auto& existing : keys_) {
        if (existing == key) {
            return true;
        }
    }
    return false;
}

const std::vector<std::string>& JsonValue::keys() const {
    require(kind_ == Kind::Object, "an object");
    return keys_;
}

} // namespace tooltest
