// SPDX-License-Identifier: MIT
#include "Table.h"

#include <algorithm>

namespace liucmd {

void Table::group(std::size_t first, std::size_t span, std::string label) {
    groups_.push_back({first, span, std::move(label)});
}

std::string Table::render() const {
    constexpr std::size_t kGap = 2;
    std::vector<std::size_t> width(header_.size());
    for (std::size_t column = 0; column < header_.size(); ++column) {
        width[column] = header_[column].size();
        for (const auto& row : rows_) {
            if (column < row.size()) {
                width[column] = std::max(width[column], row[column].size());
            }
        }
    }
    // A group label wider than its columns widens the group's last column.
    for (const auto& group : groups_) {
        std::size_t span = 0;
        for (std::size_t column = group.first; column < group.first + group.span; ++column) {
            span += width[column] + (column > group.first ? kGap : 0);
        }
        if (group.label.size() + 2 > span) {
            width[group.first + group.span - 1] += group.label.size() + 2 - span;
        }
    }
    auto start = [&](std::size_t column) {
        std::size_t position = 0;
        for (std::size_t i = 0; i < column; ++i) {
            position += width[i] + kGap;
        }
        return position;
    };
    auto line = [&](const std::vector<std::string>& cells) {
        std::string out;
        for (std::size_t column = 0; column < cells.size() && column < width.size(); ++column) {
            out.resize(start(column), ' ');
            out += cells[column];
        }
        out.erase(out.find_last_not_of(' ') + 1);
        return out + '\n';
    };

    std::string out;
    if (!groups_.empty()) {
        // Each label centred between dashes over its columns.
        std::string row;
        for (const auto& group : groups_) {
            const std::size_t from = start(group.first);
            const std::size_t to = start(group.first + group.span) - kGap;
            const std::size_t room = to - from;
            const std::string label = " " + group.label + " ";
            const std::size_t left = (room - label.size()) / 2;
            const std::size_t right = room - left - label.size();
            // Dashes only where they fit on both sides.
            const char fill = left > 0 && right > 0 ? '-' : ' ';
            row.resize(from, ' ');
            row += std::string(left, fill) + label + std::string(right, fill);
        }
        row.erase(row.find_last_not_of(' ') + 1);
        out += row + '\n';
    }
    out += line(header_);
    for (const auto& row : rows_) {
        out += line(row);
    }
    return out;
}

} // namespace liucmd
