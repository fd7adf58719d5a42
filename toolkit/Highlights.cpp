#include "toolkit/Highlights.h"

#include <QStringEncoder>

namespace {

constexpr QRgb kDefaultColors[MaxHighlights] = {
    qRgb(170, 230, 160),  // green
    qRgb(255, 180, 200),  // pink
    qRgb(210, 185, 255),  // violet
    qRgb(160, 230, 230),  // teal
    qRgb(255, 200, 150),  // orange
    qRgb(255, 160, 150),  // salmon
    qRgb(210, 210, 210),  // grey
    qRgb(225, 205, 170),  // tan
};

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    return -1;
}

QString EscapePattern(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        // A blank at the end would be trimmed away when read back.
        const bool escape = c == QLatin1Char('%') || c.unicode() < 0x20 || c.unicode() == 0x7F ||
                            (i + 1 == text.size() && c.isSpace());
        if (!escape)
            out += c;
        else if (c.unicode() < 0x100)
            out += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += QStringLiteral("%u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return out;
}

// "%" and two hex digits, or "%u" and four; any other "%" stays as it is.
QString UnescapePattern(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool wide = i + 1 < text.size() && text[i + 1] == QLatin1Char('u');
        const qsizetype digits = wide ? 4 : 2, from = i + 1 + (wide ? 1 : 0);
        int value = 0;
        bool ok = text[i] == QLatin1Char('%') && from + digits <= text.size();
        for (qsizetype k = 0; ok && k < digits; ++k) {
            const int d = HexDigit(text[from + k]);
            ok = d >= 0;
            value = value * 16 + d;
        }
        if (!ok) {
            out += text[i];
            continue;
        }
        out += QChar(char16_t(value));
        i = from + digits - 1;
    }
    return out;
}

}  // namespace

QColor DefaultHighlightColor(int n) {
    return QColor(kDefaultColors[((n % MaxHighlights) + MaxHighlights) % MaxHighlights]);
}

std::string EncodeSearchPattern(const QString& text, const TEncodingChoice& encoding) {
    switch (encoding.encoding) {
        case TTextEncoding::Windows1252:
        case TTextEncoding::Legacy: {
            QStringEncoder encoder(encoding.encoding == TTextEncoding::Legacy
                                       ? encoding.legacyName.c_str()
                                       : "windows-1252");
            if (encoder.isValid()) return QByteArray(encoder.encode(text)).toStdString();
            return text.toLatin1().toStdString();
        }
        default:
            return text.toUtf8().toStdString();
    }
}

QStringList HighlightsToList(const std::vector<THighlightPattern>& patterns) {
    QStringList list;
    for (const THighlightPattern& p : patterns) {
        if (p.pattern.isEmpty() || list.size() >= MaxHighlights) continue;
        QString flags;
        if (p.matchCase) flags += QLatin1Char('c');
        if (p.regex) flags += QLatin1Char('r');
        list << p.color.name(QColor::HexRgb) + QLatin1Char(',') + flags + QLatin1Char(',') +
                    EscapePattern(p.pattern);
    }
    return list;
}

std::vector<THighlightPattern> HighlightsFromList(const QStringList& list) {
    std::vector<THighlightPattern> patterns;
    for (const QString& entry : list) {
        if (patterns.size() >= size_t(MaxHighlights)) break;
        const qsizetype first = entry.indexOf(QLatin1Char(','));
        const qsizetype second = first < 0 ? -1 : entry.indexOf(QLatin1Char(','), first + 1);
        if (second < 0) continue;
        THighlightPattern p;
        p.color = QColor(entry.left(first).trimmed());
        p.pattern = UnescapePattern(entry.mid(second + 1));
        bool ok = p.color.isValid() && !p.pattern.isEmpty();
        for (const QChar flag : entry.mid(first + 1, second - first - 1)) {
            if (flag == QLatin1Char('c'))
                p.matchCase = true;
            else if (flag == QLatin1Char('r'))
                p.regex = true;
            else
                ok = false;
        }
        if (ok) patterns.push_back(p);
    }
    return patterns;
}

std::vector<TPatternHighlight> CompileHighlights(const std::vector<THighlightPattern>& patterns,
                                                 const std::shared_ptr<TTextDocument>& document) {
    std::vector<TPatternHighlight> compiled;
    if (!document) return compiled;
    for (const THighlightPattern& p : patterns) {
        if (p.pattern.isEmpty()) continue;
        TSearchQuery query;
        query.pattern = EncodeSearchPattern(p.pattern, document->Encoding());
        query.matchCase = p.matchCase;
        query.regex = p.regex;
        auto search = std::make_shared<TTextSearch>(document, query);
        if (search->Error().empty()) compiled.push_back({std::move(search), p.color});
    }
    return compiled;
}

QString HighlightError(const THighlightPattern& pattern) {
    if (pattern.pattern.isEmpty()) return {};
    const auto empty = std::make_shared<TTextDocument>(
        std::make_shared<TMemorySource>(std::string()), TEncodingChoice{});
    TSearchQuery query;
    query.pattern = pattern.pattern.toUtf8().toStdString();
    query.matchCase = pattern.matchCase;
    query.regex = pattern.regex;
    return QString::fromStdString(TTextSearch(empty, query).Error());
}
