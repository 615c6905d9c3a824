// The outcome table against the manual page and docs/command-line.md: every outcome is named
// there with the exit code it gives, no other outcome is named, every exit code is listed.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "outcomes.h"

namespace {

std::string Read(const char* path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Each outcome a document names, with the text of its entry.
using Entries = std::map<std::string, std::string>;

// The rows of the markdown table of outcomes: | `name` | ... |
Entries MarkdownEntries(const std::string& text) {
    static const std::regex row("\n\\| `([a-z_]+)` \\|([^\n]*)");
    Entries entries;
    for (std::sregex_iterator it(text.begin(), text.end(), row), end; it != end; ++it) {
        entries[(*it)[1]] += (*it)[2];
    }
    return entries;
}

// The entries of the page's OUTCOMES section: .TP, then .B name, then its text.
Entries ManEntries(const std::string& page) {
    const std::size_t start = page.find("\n.SH OUTCOMES\n");
    const std::string section = page.substr(start, page.find("\n.SH ", start + 1) - start);
    static const std::regex entry("\n\\.TP\n\\.B ([a-z_]+)((?:\n(?!\\.TP\n)[^\n]*)*)");
    Entries entries;
    for (std::sregex_iterator it(section.begin(), section.end(), entry), end; it != end; ++it) {
        entries[(*it)[1]] += (*it)[2];
    }
    return entries;
}

// What the document gets wrong: an outcome not named, named without its code, or named but
// unknown to the program.
std::vector<std::string> Problems(const Entries& entries) {
    std::vector<std::string> problems;
    std::set<std::string> known;
    for (const cli::OutcomeRow& row : cli::OutcomeTable()) {
        known.insert(row.name);
        const auto entry = entries.find(row.name);
        const std::string code = std::to_string(row.exitCode);
        if (entry == entries.end()) {
            problems.push_back(std::string("not named: ") + row.name);
        } else if (!std::regex_search(entry->second,
                                      std::regex("(^|[^0-9])" + code + "([^0-9]|$)"))) {
            problems.push_back(std::string(row.name) + " without its exit code " + code);
        }
    }
    for (const auto& entry : entries) {
        if (known.count(entry.first) == 0) {
            problems.push_back("no such outcome: " + entry.first);
        }
    }
    return problems;
}

}  // namespace

TEST(OutcomeTable, NamesEveryOutcomeOfBothExchanges) {
    for (int v = 0; v <= static_cast<int>(exchange::VersionCheckOutcome::kUploadNotOffered); ++v) {
        EXPECT_STRNE(cli::OutcomeName(static_cast<exchange::VersionCheckOutcome>(v)), "unknown");
    }
    for (int v = 0; v <= static_cast<int>(exchange::UploadOutcome::kAbandoned); ++v) {
        EXPECT_STRNE(cli::OutcomeName(static_cast<exchange::UploadOutcome>(v)), "unknown");
    }
}

TEST(OutcomeTable, TheDocumentsNameEachOutcomeWithItsCodeAndNoOther) {
    const std::string markdown = Read(TR_COMMAND_LINE_MD);
    const std::string page = Read(TR_MAN_PAGE);
    EXPECT_EQ(Problems(MarkdownEntries(markdown)), std::vector<std::string>{});
    EXPECT_EQ(Problems(ManEntries(page)), std::vector<std::string>{});
    for (const cli::ExitCodeRow& row : cli::ExitCodeTable()) {
        const std::string code = std::to_string(row.code);
        EXPECT_NE(markdown.find("\n| " + code + " | "), std::string::npos) << code;
        EXPECT_NE(page.find("\n.TP\n.B " + code + "\n"), std::string::npos) << code;
    }
    // The check itself sees a renamed outcome and a wrong code.
    std::string wrong = markdown;
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{"`no_reply`", "`no_replies`"},
          {"`rejected` | UPDATE | 4", "`rejected` | UPDATE | 3"}}) {
        ASSERT_NE(wrong.find(from), std::string::npos) << from;
        wrong.replace(wrong.find(from), from.size(), to);
    }
    EXPECT_EQ(Problems(MarkdownEntries(wrong)).size(), 3u) << "no_reply, no_replies, rejected";
}
