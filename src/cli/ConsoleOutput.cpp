#include "cli/ConsoleOutput.h"

#include <algorithm>
#include <unistd.h>

namespace ConsoleOutput {

namespace {
void write(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}
} // namespace

void out(const QString& text) {
    write(stdout, text);
}

void error(const QString& text) {
    write(stderr, QStringLiteral("zanvolt: ") + printable(text, isTerminal(stderr)) + QLatin1Char('\n'));
}

bool isTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) == 1;
}

QString printable(const QString& text, bool onTerminal) {
    if (!onTerminal)
        return text;
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        result.append(category == QChar::Other_Control || category == QChar::Other_Format ||
                              category == QChar::Separator_Line || category == QChar::Separator_Paragraph
                          ? QLatin1Char('?')
                          : c);
    }
    return result;
}

ProgressLine::ProgressLine() : m_enabled(isTerminal(stderr)) {}

ProgressLine::~ProgressLine() {
    clear();
}

void ProgressLine::show(double fraction, const QString& text) {
    if (!m_enabled)
        return;
    constexpr int width = 24;
    const int filled = std::clamp(int(fraction * width), 0, width);
    const QString bar = QStringLiteral("[") + QString(filled, QLatin1Char('#')) +
                        QString(width - filled, QLatin1Char(' ')) + QStringLiteral("] ");
    // Back to the line's start and clear it: the new text may be shorter.
    write(stderr, QStringLiteral("\r\033[K") + bar + printable(text, true));
    m_shown = true;
}

void ProgressLine::clear() {
    if (!m_shown)
        return;
    write(stderr, QStringLiteral("\r\033[K"));
    m_shown = false;
}

} // namespace ConsoleOutput
