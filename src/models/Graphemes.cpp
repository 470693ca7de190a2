#include "models/Graphemes.h"

#include <QTextBoundaryFinder>

int Graphemes::count(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int counted = 0;
    while (finder.toNextBoundary() != -1)
        ++counted;
    return counted;
}

QString Graphemes::left(const QString& text, int characters) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (int counted = 0; counted < characters; ++counted) {
        if (finder.toNextBoundary() == -1)
            return text;
    }
    return text.left(finder.position());
}
