#pragma once

#include <QString>

// Text lengths as a person counts them: user-perceived characters (grapheme
// clusters), so a cut never splits an umlaut written as two code points, an
// emoji or a surrogate pair.
class Graphemes {
public:
    static int count(const QString& text);
    // The first `characters` user-perceived characters of `text`.
    static QString left(const QString& text, int characters);
};
