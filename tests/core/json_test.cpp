// JSON for scripts: whatever a cell holds, the output parses, and number columns are numbers.

#include "core/json.h"

#include <gtest/gtest.h>

TEST(Json, StringsAlwaysParseAndNumbersAreJsonNumbers) {
    const std::vector<std::pair<std::string, std::string>> quoted{
        {"plain", "\"plain\""},
        {"a \"b\" \\ c", "\"a \\\"b\\\" \\\\ c\""},
        {"tab\tnl\n\x01", "\"tab\\u0009nl\\u000a\\u0001\""},
        {"C:\\ \xc3\xa9\xe2\x82\xac", "\"C:\\\\ \xc3\xa9\xe2\x82\xac\""}, // UTF-8 as it is
        {"\xff\xc3(\xc0\xaf\xed\xa0\x80", "\"\\ufffd\\ufffd(\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\""},
    };
    for (const auto& [text, json] : quoted)
        EXPECT_EQ(json::quote(text), json) << text;

    const std::vector<std::pair<std::string, std::string>> numbers{
        {"0", "0"},         {"4096", "4096"}, {"-3", "-3"},     {"0,5", "0.5"},
        {"12.25", "12.25"}, {"", "null"},     {"007", "null"},  {"1e5", "null"},
        {"5.", "null"},     {"-", "null"},    {"0x10", "null"}, {"1 2", "null"},
    };
    for (const auto& [cell, json] : numbers)
        EXPECT_EQ(json::number(cell), json) << cell;

    EXPECT_EQ(json::key("CHS Size (bytes)"), "chs_size_bytes");
    EXPECT_EQ(json::key("start (#sector)"), "start_sector");
    EXPECT_EQ(json::key("FileName"), "file_name");
    EXPECT_EQ(json::key("Size (MiB)"), "size_mib");
    EXPECT_EQ(json::rows({"Index", "Name"}, {{"1", "a"}, {"2", "b"}}, {0}),
              "[\n  {\"index\": 1, \"name\": \"a\"},\n  {\"index\": 2, \"name\": \"b\"}\n]");
    EXPECT_EQ(json::rows({"Index"}, {}, {0}), "[]");
}
