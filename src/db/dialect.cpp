#include "db/dialect.h"

#include <cctype>
#include <regex>

#include "base/text.h"

namespace parlix {

namespace {

constexpr const char* kNoCase = " COLLATE NOCASE";

const std::regex& topPattern() {
    static const std::regex re(R"(^\s*select\s+top\s+(\d+)\s+([\s\S]*)$)", std::regex::icase);
    return re;
}

const std::regex& addColumnPattern() {
    static const std::regex re(R"(^(\s*alter\s+table\s+\S+\s+add\s+column\s+\S+\s+)(\S.*?)\s*$)",
                               std::regex::icase);
    return re;
}

const std::regex& createIndexPattern() {
    static const std::regex re(
        R"(^(\s*create\s+(?:unique\s+)?index\s+\S+\s+on\s+\S+\s*)\((.*)\)\s*$)", std::regex::icase);
    return re;
}

std::string columnType(const std::string& type) {
    static const std::regex text(R"(^text\s*\(\s*\d+\s*\)$)", std::regex::icase);
    if (std::regex_match(type, text)) {
        return std::string("TEXT") + kNoCase;
    }
    if (iequals(type, "Date")) {
        return "TEXT";
    }
    if (iequals(type, "Number")) {
        return "REAL";
    }
    return type;
}

bool isWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

/// The next word after position i, skipping blanks.
std::string nextWord(std::string_view s, size_t i) {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) {
        ++i;
    }
    size_t start = i;
    while (i < s.size() && isWordChar(s[i])) {
        ++i;
    }
    return std::string(s.substr(start, i - start));
}

/// Adds the case-blind collation to every literal and parameter after the WHERE keyword.
std::string foldWhereComparisons(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 32);
    bool inWhere = false;
    size_t i = 0;
    while (i < s.size()) {
        char c = s[i];
        if (c == '\'' || c == '"' || c == '[') {
            char close = c == '[' ? ']' : c;
            size_t j = i + 1;
            while (j < s.size()) {
                if (s[j] == close) {
                    if (close != ']' && j + 1 < s.size() && s[j + 1] == close) {
                        j += 2;  // doubled quote inside the text
                        continue;
                    }
                    break;
                }
                ++j;
            }
            size_t end = j < s.size() ? j + 1 : j;
            out.append(s.substr(i, end - i));
            if (inWhere && c == '\'' && !iequals(nextWord(s, end), "collate")) {
                out += kNoCase;
            }
            i = end;
            continue;
        }
        if (c == '?') {
            out += c;
            ++i;
            if (inWhere && !iequals(nextWord(s, i), "collate")) {
                out += kNoCase;
            }
            continue;
        }
        if (isWordChar(c)) {
            size_t j = i;
            while (j < s.size() && isWordChar(s[j])) {
                ++j;
            }
            std::string_view word = s.substr(i, j - i);
            if (iequals(word, "where")) {
                inWhere = true;
            }
            out.append(word);
            i = j;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

}  // namespace

std::string translateStatement(std::string_view sql) {
    std::string s(sql);
    std::smatch m;
    if (std::regex_match(s, m, topPattern())) {
        std::string rest = m[2].str();
        while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.back()))) {
            rest.pop_back();
        }
        s = "select " + rest + " LIMIT " + m[1].str();
    } else if (std::regex_match(s, m, addColumnPattern())) {
        return m[1].str() + columnType(m[2].str());
    } else if (std::regex_match(s, m, createIndexPattern())) {
        std::string cols;
        for (const std::string& col : split(m[2].str(), ",")) {
            std::string c = trimSpaces(col);
            if (toLower(c).find("collate") == std::string::npos) {
                c += kNoCase;
            }
            cols += (cols.empty() ? "" : ", ") + c;
        }
        return m[1].str() + "(" + cols + ")";
    }
    return foldWhereComparisons(s);
}

}  // namespace parlix
