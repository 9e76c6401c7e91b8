// SPDX-License-Identifier: MIT
// What commands print: aligned text tables for people, and one JSON object
// per line for scripts (built as a small value tree, written compactly with
// keys in the order they were added).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace liuctl {

// A text table: a header row and data rows, columns left-aligned and two
// blanks apart, trailing blanks dropped.  An optional group row above the
// header labels runs of columns ("library", "chip registers").
class Table {
  public:
    explicit Table(std::vector<std::string> header) : header_(std::move(header)) {}

    // Labels columns first..first+span-1 in a row above the header.
    void group(std::size_t first, std::size_t span, std::string label);
    void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    bool empty() const { return rows_.empty(); }
    std::string render() const;

  private:
    struct Group {
        std::size_t first;
        std::size_t span;
        std::string label;
    };
    std::vector<std::string> header_;
    std::vector<Group> groups_;
    std::vector<std::vector<std::string>> rows_;
};

// A JSON value: null, bool, integer, string, array or object.
class Json {
  public:
    using Array = std::vector<Json>;
    using Object = std::vector<std::pair<std::string, Json>>;

    Json() = default; // null
    Json(bool value) : value_(value) {}
    Json(int value) : value_(static_cast<std::int64_t>(value)) {}
    Json(long value) : value_(static_cast<std::int64_t>(value)) {}
    Json(unsigned value) : value_(static_cast<std::int64_t>(value)) {}
    Json(double value) : value_(value) {}
    Json(const char* value) : value_(std::string(value)) {}
    Json(std::string value) : value_(std::move(value)) {}
    Json(Array value) : value_(std::move(value)) {}

    static Json object() {
        Json json;
        json.value_ = Object{};
        return json;
    }
    static Json array() { return Json(Array{}); }

    // Object member (added in order; the object must not have the key yet).
    Json& set(const std::string& key, Json value);
    // Array element.
    Json& push(Json value);

    std::string dump() const;

  private:
    void write(std::string& out) const;
    std::variant<std::monostate, bool, std::int64_t, double, std::string, Array, Object> value_;
};

// Where a command's report goes: JSON lines or text on stdout.
class Output {
  public:
    explicit Output(bool json) : json_(json) {}
    bool json() const { return json_; }
    // Writes text as it is (human mode).
    void text(const std::string& text) const;
    // Writes one JSON line.
    void emit(const Json& json) const;

  private:
    bool json_;
};

} // namespace liuctl
