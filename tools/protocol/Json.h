// SPDX-License-Identifier: MIT
// The JSON value of liud's control protocol and of every command result
// (nlohmann's, keys kept in the order they were added), the one way a value
// is written (compact, one line, bytes that are not UTF-8 replaced rather
// than thrown on), and what nlohmann lacks for the protocol's types: an
// absent value (std::optional) as null, and the field list of a structure.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace liuproto {

using Json = nlohmann::ordered_json;

inline std::string jsonLine(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace liuproto

namespace nlohmann {

template <typename T> struct adl_serializer<std::optional<T>> {
    template <typename BasicJson>
    static void to_json(BasicJson& json, const std::optional<T>& value) {
        if (value) {
            json = *value;
        } else {
            json = nullptr;
        }
    }
    template <typename BasicJson>
    static void from_json(const BasicJson& json, std::optional<T>& value) {
        if (json.is_null()) {
            value.reset();
        } else {
            value = json.template get<T>();
        }
    }
};

} // namespace nlohmann

// to_json and from_json of a structure whose JSON object has one key per
// field, named as the field and in its order: nlohmann's own field macros
// for the protocol's ordered JSON.  Reading a structure refuses an object
// that lacks a field (Json::out_of_range) or holds one of another type.
#define LIUPROTO_FIELDS(Type, ...)                                                                 \
    inline void to_json(::liuproto::Json& nlohmann_json_j, const Type& nlohmann_json_t) {          \
        NLOHMANN_JSON_EXPAND(NLOHMANN_JSON_PASTE(NLOHMANN_JSON_TO, __VA_ARGS__))                   \
    }                                                                                              \
    inline void from_json(const ::liuproto::Json& nlohmann_json_j, Type& nlohmann_json_t) {        \
        NLOHMANN_JSON_EXPAND(NLOHMANN_JSON_PASTE(NLOHMANN_JSON_FROM, __VA_ARGS__))                 \
    }
