#pragma once
// Highlights: patterns the user wants to see wherever they occur, each painted in its own colour
// in the text view beside the current search's matches. They are kept as text (one entry per
// pattern) for the settings file and compiled into searches for each document shown.
#include <QColor>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

#include "text/TextSearch.h"

struct THighlightPattern {
    QString pattern;
    QColor color;
    bool matchCase = false;
    bool regex = false;
    bool operator==(const THighlightPattern&) const = default;
};

// A pattern compiled for one document.
struct TPatternHighlight {
    std::shared_ptr<TTextSearch> search;
    QColor color;
};

constexpr int MaxHighlights = 8;

// The colour the n-th pattern gets unless the user chose another: light backgrounds that keep
// black text readable and differ from the find highlight, the marked lines and the selection.
QColor DefaultHighlightColor(int n);

// A pattern as the search takes it for text in `encoding`: UTF-8 (the search converts it for
// UTF-16 and UTF-32 texts), or the bytes of an 8-bit code page.
std::string EncodeSearchPattern(const QString& text, const TEncodingChoice& encoding);

// One entry per pattern: "#rrggbb,<flags>,<pattern>", flags "c" for match case and "r" for a
// regular expression. In the pattern "%" and the characters the settings file would lose
// (control characters, a blank at the end) are written as "%" and two hex digits.
QStringList HighlightsToList(const std::vector<THighlightPattern>& patterns);
// Entries that do not read as a pattern (or hold an empty one) are skipped; at most
// MaxHighlights are kept.
std::vector<THighlightPattern> HighlightsFromList(const QStringList& list);

// The searches for `document`; empty patterns and those that do not compile are left out.
std::vector<TPatternHighlight> CompileHighlights(const std::vector<THighlightPattern>& patterns,
                                                 const std::shared_ptr<TTextDocument>& document);
// Why the pattern does not compile (empty when it does), checked on UTF-8 text.
QString HighlightError(const THighlightPattern& pattern);
