// SPDX-License-Identifier: MIT
// Aligned text tables: how command results are shown to people.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace liucmd {

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

} // namespace liucmd
