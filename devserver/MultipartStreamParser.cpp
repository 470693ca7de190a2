#include "MultipartStreamParser.h"

#include <QList>

#include <string_view>

namespace {

constexpr size_t maxHeaderBlock = 16 * 1024;

// Splits `name=value; name="quoted value"` parameters; quoted values may escape with a backslash.
QList<std::pair<QByteArray, QByteArray>> parameters(const QByteArray& value) {
    QList<std::pair<QByteArray, QByteArray>> result;
    qsizetype i = value.indexOf(';');
    while (i >= 0 && i < value.size()) {
        ++i;
        while (i < value.size() && (value[i] == ' ' || value[i] == '\t'))
            ++i;
        const qsizetype eq = value.indexOf('=', i);
        if (eq < 0)
            break;
        const QByteArray key = value.mid(i, eq - i).trimmed().toLower();
        i = eq + 1;
        QByteArray parsed;
        if (i < value.size() && value[i] == '"') {
            ++i;
            while (i < value.size() && value[i] != '"') {
                if (value[i] == '\\' && i + 1 < value.size())
                    ++i;
                parsed.append(value[i]);
                ++i;
            }
            i = value.indexOf(';', i);
        } else {
            const qsizetype semicolon = value.indexOf(';', i);
            parsed = value.mid(i, semicolon < 0 ? -1 : semicolon - i).trimmed();
            i = semicolon;
        }
        result.append({key, parsed});
    }
    return result;
}

} // namespace

MultipartStreamParser::MultipartStreamParser(const QByteArray& boundary, PartBegin begin, PartData data,
                                             PartEnd end)
    : delimiter_("\r\n--" + boundary.toStdString()), buffer_("\r\n"), begin_(std::move(begin)),
      data_(std::move(data)), end_(std::move(end)) {
    // The leading CRLF lets the first delimiter, which may open the body, match like the others.
}

QByteArray MultipartStreamParser::boundaryOf(const QByteArray& contentType) {
    if (!contentType.trimmed().toLower().startsWith("multipart/form-data"))
        return {};
    for (const auto& [key, value] : parameters(contentType)) {
        if (key == "boundary")
            return value.size() <= 70 ? value : QByteArray();
    }
    return {};
}

bool MultipartStreamParser::fail() {
    state_ = State::Failed;
    buffer_.clear();
    return false;
}

bool MultipartStreamParser::feed(const char* data, size_t size) {
    if (state_ == State::Failed)
        return false;
    if (state_ == State::Done)
        return true;
    buffer_.append(data, size);
    const std::string_view view(buffer_);
    const size_t keep = delimiter_.size() - 1;
    size_t pos = 0;
    bool more = true;
    while (more) {
        switch (state_) {
        case State::Preamble: {
            const size_t found = view.find(delimiter_, pos);
            if (found == std::string_view::npos) {
                pos = std::max(pos, view.size() > keep ? view.size() - keep : 0);
                more = false;
            } else {
                pos = found + delimiter_.size();
                state_ = State::AfterDelimiter;
            }
            break;
        }
        case State::AfterDelimiter: {
            while (pos < view.size() && (view[pos] == ' ' || view[pos] == '\t'))
                ++pos;
            if (view.size() - pos < 2) {
                more = false;
            } else if (view.substr(pos, 2) == "--") {
                state_ = State::Done;
                buffer_.clear();
                return true;
            } else if (view.substr(pos, 2) == "\r\n") {
                // The CRLF stays: it begins the blank-line search of a part without headers.
                state_ = State::Headers;
            } else {
                return fail();
            }
            break;
        }
        case State::Headers: {
            const size_t found = view.find("\r\n\r\n", pos);
            if (found == std::string_view::npos) {
                if (view.size() - pos > maxHeaderBlock)
                    return fail();
                more = false;
            } else {
                if (!parseHeaders(view.data() + pos + 2, found >= pos + 2 ? found - pos - 2 : 0))
                    return fail();
                pos = found + 4;
                state_ = State::Body;
            }
            break;
        }
        case State::Body: {
            const size_t found = view.find(delimiter_, pos);
            if (found == std::string_view::npos) {
                const size_t safe = view.size() > keep ? view.size() - keep : 0;
                if (safe > pos) {
                    if (!data_(view.data() + pos, safe - pos))
                        return fail();
                    pos = safe;
                }
                more = false;
            } else {
                if (found > pos && !data_(view.data() + pos, found - pos))
                    return fail();
                if (!end_())
                    return fail();
                pos = found + delimiter_.size();
                state_ = State::AfterDelimiter;
            }
            break;
        }
        case State::Done:
        case State::Failed:
            more = false;
            break;
        }
    }
    buffer_.erase(0, pos);
    return true;
}

bool MultipartStreamParser::parseHeaders(const char* data, size_t size) {
    PartHeader header;
    bool disposition = false;
    for (const QByteArray& line : QByteArray::fromRawData(data, qsizetype(size)).split('\n')) {
        const QByteArray trimmed = line.endsWith('\r') ? line.chopped(1) : line;
        const qsizetype colon = trimmed.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = trimmed.left(colon).trimmed().toLower();
        const QByteArray value = trimmed.mid(colon + 1).trimmed();
        if (name == "content-disposition") {
            if (!value.toLower().startsWith("form-data"))
                return false;
            disposition = true;
            for (const auto& [key, parameter] : parameters(value)) {
                if (key == "name") {
                    header.name = parameter;
                } else if (key == "filename") {
                    header.fileName = parameter;
                    header.hasFileName = true;
                }
            }
        } else if (name == "content-type") {
            header.contentType = value;
        }
    }
    return disposition && begin_(header);
}
