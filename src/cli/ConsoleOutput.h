#pragma once

#include <QString>
#include <cstdio>

// The command line's writing: results on stdout, errors and progress on stderr, UTF-8.
namespace ConsoleOutput {

void out(const QString& text);
// "zanvolt: " + text + a line break, on stderr.
void error(const QString& text);
bool isTerminal(std::FILE* stream);
// Server texts are data: on a terminal, control characters (escape sequences, line breaks,
// direction overrides) must not act, so each becomes "?"; into a pipe they pass unchanged.
QString printable(const QString& text, bool onTerminal);

// A one-line progress bar on stderr, redrawn in place; shown only when stderr is a terminal.
class ProgressLine {
public:
    ProgressLine();
    ~ProgressLine();
    void show(double fraction, const QString& text);
    // Clears the line, so what follows starts on a clean one.
    void clear();

private:
    bool m_enabled;
    bool m_shown = false;
};

} // namespace ConsoleOutput
