// SPDX-License-Identifier: MIT
#include "Output.h"

#include <algorithm>
#include <cstdio>

namespace liuctl {

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

Json& Json::set(const std::string& key, Json value) {
    std::get<Object>(value_).emplace_back(key, std::move(value));
    return *this;
}

Json& Json::push(Json value) {
    std::get<Array>(value_).push_back(std::move(value));
    return *this;
}

std::string Json::dump() const {
    std::string out;
    write(out);
    return out;
}

namespace {

void writeString(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

} // namespace

void Json::write(std::string& out) const {
    struct Writer {
        std::string& out;
        void operator()(std::monostate) const { out += "null"; }
        void operator()(bool value) const { out += value ? "true" : "false"; }
        void operator()(std::int64_t value) const { out += std::to_string(value); }
        void operator()(double value) const {
            char text[32];
            std::snprintf(text, sizeof text, "%.3f", value);
            out += text;
        }
        void operator()(const std::string& value) const { writeString(out, value); }
        void operator()(const Array& values) const {
            out += '[';
            for (std::size_t i = 0; i < values.size(); ++i) {
                out += i == 0 ? "" : ",";
                values[i].write(out);
            }
            out += ']';
        }
        void operator()(const Object& members) const {
            out += '{';
            for (std::size_t i = 0; i < members.size(); ++i) {
                out += i == 0 ? "" : ",";
                writeString(out, members[i].first);
                out += ':';
                members[i].second.write(out);
            }
            out += '}';
        }
    };
    std::visit(Writer{out}, value_);
}

void Output::text(const std::string& text) const {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void Output::emit(const Json& json) const {
    std::fputs((json.dump() + '\n').c_str(), stdout);
    std::fflush(stdout);
}

} // namespace liuctl
