// SPDX-License-Identifier: MIT
#include "posix/wire/list_dialects.h"

#include <string>

#include "posix/wire/list_fields.h"

namespace quorvane::client {
namespace {

using text::equalsIgnoringCase;

bool endsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The rest of the line from a token on: names may hold blanks.
std::string_view restFrom(std::string_view line, const Token& token)
{
    return line.substr(token.end - token.text.size());
}

// "HH:MM:SS" (or "HH:MM").
bool parseLongClock(std::string_view text, int& hour, int& minute, int& second)
{
    second = 0;
    if (text.size() == 8 && text[5] == ':') {
        const auto s = smallNumber(text.substr(6), 2, 2);
        if (!s || *s > 59)
            return false;
        second = *s;
        text = text.substr(0, 5);
    }
    return parseClock(text, hour, minute);
}

// "16-NOV-2001" or "7-Feb-2010".
std::optional<std::int64_t> dayMonthYear(std::string_view date, int hour, int minute, int second)
{
    const std::size_t first = date.find('-');
    const std::size_t second_ = date.rfind('-');
    if (first == std::string_view::npos || second_ != first + 4)
        return std::nullopt;
    const auto day = smallNumber(date.substr(0, first), 1, 2);
    const auto month = monthOf(date.substr(first + 1, 3));
    const auto year = smallNumber(date.substr(second_ + 1), 4, 4);
    if (!day || !month || !year)
        return std::nullopt;
    return secondsOf(*year, *month, *day, hour, minute, second);
}

// "2004/06/23".
std::optional<std::int64_t> isoDate(std::string_view date, int hour = 0, int minute = 0)
{
    if (date.size() != 10 || date[4] != '/' || date[7] != '/')
        return std::nullopt;
    const auto year = smallNumber(date.substr(0, 4), 4, 4);
    const auto month = smallNumber(date.substr(5, 2), 2, 2);
    const auto day = smallNumber(date.substr(8, 2), 2, 2);
    if (!year || !month || !day)
        return std::nullopt;
    return secondsOf(*year, *month, *day, hour, minute);
}

// "MM-DD-YY" (with `separator` '-') or "MM/DD/YY", two or four digits of year.
std::optional<std::int64_t> monthDayYear(std::string_view date, char separator, int hour,
                                         int minute, int second = 0)
{
    if ((date.size() != 8 && date.size() != 10) || date[2] != separator || date[5] != separator)
        return std::nullopt;
    const auto month = smallNumber(date.substr(0, 2), 2, 2);
    const auto day = smallNumber(date.substr(3, 2), 2, 2);
    const auto year = smallNumber(date.substr(6), 2, 4);
    if (!month || !day || !year)
        return std::nullopt;
    return secondsOf(fullYear(*year, date.size() - 6), *month, *day, hour, minute, second);
}

LineResult parsed(ListingEntry& entry, std::string_view name, std::uint64_t size, bool directory,
                  std::optional<std::int64_t> modified, bool timeOfDay)
{
    entry = {};
    entry.name = name;
    entry.size = size;
    entry.directory = directory;
    entry.modified = modified;
    entry.timeOfDay = timeOfDay && modified;
    return name.empty() ? LineResult::Malformed : LineResult::Parsed;
}

}  // namespace

LineResult parseEplfLine(std::string_view line, ListingEntry& entry)
{
    // Facts separated by commas up to a TAB, then the name.
    if (line.empty() || line[0] != '+')
        return LineResult::NotMine;
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos)
        return LineResult::NotMine;
    std::string_view facts = line.substr(1, tab - 1);
    std::uint64_t size = 0;
    bool directory = false, retrievable = false;
    std::optional<std::int64_t> modified;
    while (!facts.empty()) {
        const std::string_view fact = facts.substr(0, facts.find(','));
        facts.remove_prefix(std::min(facts.size(), fact.size() + 1));
        if (fact == "/")
            directory = true;
        else if (fact == "r")
            retrievable = true;
        else if (fact.size() > 1 && fact[0] == 's')
            size = parseDecimal(fact.substr(1)).value_or(0);
        else if (fact.size() > 1 && fact[0] == 'm')
            modified = parseDecimal(fact.substr(1));
    }
    if (!directory && !retrievable)
        return LineResult::Ignored;  // neither a folder nor a file to fetch
    return parsed(entry, line.substr(tab + 1), size, directory, modified, true);
}

bool isVmsNameAlone(std::string_view line)
{
    // Asked of every LIST line: most are rejected at their first blank.
    const std::size_t start = line.find_first_not_of(' ');
    const std::size_t end = std::min(line.find(' ', start), line.size());
    if (start == std::string_view::npos ||
        line.find_first_not_of(' ', end) != std::string_view::npos)
        return false;
    const std::string_view name = line.substr(start, end - start);
    const std::size_t semicolon = name.rfind(';');
    return semicolon != std::string_view::npos && semicolon > 0 &&
           isDigits(name.substr(semicolon + 1));
}

LineResult parseVmsLine(std::string_view line, ListingEntry& entry)
{
    const auto tokens = tokenize(line, 6);
    if (tokens.size() >= 2 && (equalsIgnoringCase(tokens[0].text, "Directory") ||
                               equalsIgnoringCase(tokens[0].text, "Total")))
        return LineResult::Ignored;  // "Directory DISK$USER:[HOME]", "Total of 3 files, ..."
    if (tokens.size() < 4)
        return LineResult::NotMine;
    const std::string_view file = tokens[0].text;
    const std::size_t semicolon = file.rfind(';');
    if (semicolon == std::string_view::npos || semicolon == 0 ||
        !isDigits(file.substr(semicolon + 1)))
        return LineResult::NotMine;
    // Blocks of 512 bytes used, and "/allocated" where shown.
    const std::string_view blocks = tokens[1].text.substr(0, tokens[1].text.find('/'));
    const auto used = parseDecimal(blocks);
    int hour = 0, minute = 0, second = 0;
    if (!used || !parseLongClock(tokens[3].text, hour, minute, second))
        return LineResult::Malformed;
    const auto modified = dayMonthYear(tokens[2].text, hour, minute, second);
    if (!modified)
        return LineResult::Malformed;
    std::string_view name = file.substr(0, semicolon);  // the version goes
    const bool directory = endsWith(name, ".DIR");
    if (directory)
        name.remove_suffix(4);
    return parsed(entry, name, *used * 512, directory, modified, true);
}

LineResult parseOs400Line(std::string_view line, ListingEntry& entry)
{
    const auto tokens = tokenize(line, 6);
    // A member of a file: "QSYS  *MEM  MYLIB.LIB/MYFILE.FILE/MBR.MBR", no size, no date.
    if (tokens.size() == 3 && tokens[1].text == "*MEM")
        return parsed(entry, restFrom(line, tokens[2]), 0, false, std::nullopt, false);
    if (tokens.size() < 6 || tokens[4].text.size() < 2 || tokens[4].text[0] != '*')
        return LineResult::NotMine;
    const auto size = parseDecimal(tokens[1].text);
    int hour = 0, minute = 0, second = 0;
    if (!size || !parseLongClock(tokens[3].text, hour, minute, second))
        return LineResult::NotMine;
    const auto modified = monthDayYear(tokens[2].text, '/', hour, minute, second);
    if (!modified)
        return LineResult::Malformed;
    const std::string_view type = tokens[4].text;
    const bool directory = type == "*DIR" || type == "*FLR" || type == "*LIB";
    std::string_view name = restFrom(line, tokens[5]);
    if (!name.empty() && name.back() == '/')
        name.remove_suffix(1);
    return parsed(entry, name, *size, directory, modified, true);
}

LineResult parseMvsLine(std::string_view line, ListingEntry& entry)
{
    const auto tokens = tokenize(line, 10);
    if (tokens.size() >= 2 && (tokens[0].text == "Volume" || tokens[0].text == "Name") &&
        (tokens[1].text == "Unit" || tokens[1].text == "VV.MM"))
        return LineResult::Ignored;  // the headers of datasets and of members
    if (tokens.size() == 2 && tokens[0].text == "Migrated")
        return parsed(entry, tokens[1].text, 0, false, std::nullopt, false);
    // A dataset: volume, unit, referred date, extents, used, record format,
    // length, block size, organisation (PO: partitioned, a folder), name.
    if (tokens.size() == 10) {
        const auto referred = isoDate(tokens[2].text);
        if (!referred)
            return LineResult::NotMine;
        const std::string_view dsorg = tokens[8].text;
        return parsed(entry, tokens[9].text, 0, dsorg == "PO" || dsorg == "PO-E", referred, false);
    }
    // A member: name, version, created, changed date and time, sizes in records.
    if (tokens.size() >= 5 && tokens[1].text.size() == 5 && tokens[1].text[2] == '.' &&
        isoDate(tokens[2].text)) {
        int hour = 0, minute = 0;
        if (!parseClock(tokens[4].text, hour, minute))
            return LineResult::Malformed;
        return parsed(entry, tokens[0].text, 0, false, isoDate(tokens[3].text, hour, minute), true);
    }
    return LineResult::NotMine;
}

LineResult parseNetwareLine(std::string_view line, const ServerClock& now, ListingEntry& entry)
{
    const auto tokens = tokenize(line, 8);
    if (tokens.size() < 8 || (tokens[0].text != "d" && tokens[0].text != "-") ||
        tokens[1].text.size() < 3 || tokens[1].text.front() != '[' || tokens[1].text.back() != ']')
        return LineResult::NotMine;
    const auto size = parseDecimal(tokens[3].text);
    const auto month = monthOf(tokens[4].text);
    const auto day = smallNumber(tokens[5].text, 1, 2);
    if (!size || !month || !day)
        return LineResult::Malformed;
    int hour = 0, minute = 0;
    std::optional<std::int64_t> modified;
    const bool clock = parseClock(tokens[6].text, hour, minute);
    if (clock)
        modified = placeYearless(*month, *day, hour, minute, now);
    else if (const auto year = smallNumber(tokens[6].text, 4, 4))
        modified = secondsOf(*year, *month, *day, 0, 0);
    if (!modified)
        return LineResult::Malformed;
    return parsed(entry, restFrom(line, tokens[7]), *size, tokens[0].text == "d", modified, clock);
}

LineResult parseOs2Line(std::string_view line, ListingEntry& entry)
{
    const auto tokens = tokenize(line, 6);
    const auto size = tokens.size() >= 4 ? parseDecimal(tokens[0].text) : std::nullopt;
    if (!size)
        return LineResult::NotMine;
    // Size, then attributes or DIR where there are any, then date, time, name.
    std::size_t at = 1;
    bool directory = false;
    while (at + 2 < tokens.size() && !monthDayYear(tokens[at].text, '-', 0, 0)) {
        directory = directory || tokens[at].text == "DIR";
        ++at;
    }
    int hour = 0, minute = 0;
    if (at + 2 >= tokens.size() || !parseClock(tokens[at + 1].text, hour, minute))
        return LineResult::NotMine;
    const auto modified = monthDayYear(tokens[at].text, '-', hour, minute);
    if (!modified)
        return LineResult::NotMine;
    return parsed(entry, restFrom(line, tokens[at + 2]), *size, directory, modified, true);
}

LineResult parseTandemLine(std::string_view line, ListingEntry& entry)
{
    const auto tokens = tokenize(line, 8);
    if (tokens.size() >= 3 && tokens[0].text == "File" && tokens[1].text == "Code")
        return LineResult::Ignored;  // "File  Code  EOF  Last Modification  Owner  RWEP"
    const auto size = tokens.size() == 7 ? parseDecimal(tokens[2].text) : std::nullopt;
    int hour = 0, minute = 0, second = 0;
    if (!size || !isDigits(tokens[1].text) || !parseLongClock(tokens[4].text, hour, minute, second))
        return LineResult::NotMine;
    const auto modified = dayMonthYear(tokens[3].text, hour, minute, second);
    if (!modified)
        return LineResult::Malformed;
    return parsed(entry, tokens[0].text, *size, false, modified, true);
}

}  // namespace quorvane::client
