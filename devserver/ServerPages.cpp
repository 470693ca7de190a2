#include "ServerPages.h"

#include "ServerNames.h"

QString ServerPages::page(const QString& title, const QString& body) {
    return QStringLiteral(
               "<!DOCTYPE html>\n<html lang=\"de\"><head><meta charset=\"utf-8\">"
               "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
               "<title>%1</title><style>body{font-family:sans-serif;max-width:40em;margin:2em auto;padding:0 "
               "1em}"
               "label{display:block;margin-top:1em}input,textarea{width:100%;box-sizing:border-box}"
               "button{margin-top:1.5em;padding:.5em 1.5em}li{margin:.3em 0}.hinweis{color:#a00}</style>"
               "</head><body>%2</body></html>\n")
        .arg(title.toHtmlEscaped(), body);
}

QString ServerPages::uploadForm(const QString& problem) {
    QString body = QStringLiteral("<h1>Dateien hochladen</h1><p>Senden Sie uns Ihre Dateien. "
                                  "Wir werden benachrichtigt, sobald die Übertragung abgeschlossen ist.</p>");
    if (!problem.isEmpty())
        body += QStringLiteral("<p class=\"hinweis\">%1</p>").arg(problem.toHtmlEscaped());
    body += QStringLiteral(
        "<form method=\"post\" action=\"/\" enctype=\"multipart/form-data\">"
        "<label>Ihr Name<input name=\"customerName\" required maxlength=\"200\"></label>"
        "<label>Auftragsnummer (optional)<input name=\"auftragsnummer\" maxlength=\"100\"></label>"
        "<label>Nachricht (optional)<textarea name=\"nachricht\" rows=\"4\" "
        "maxlength=\"2000\"></textarea></label>"
        "<label>Dateien<input type=\"file\" name=\"files\" multiple required></label>"
        "<button type=\"submit\">Hochladen</button></form>");
    return page(QStringLiteral("Dateien hochladen"), body);
}

QString ServerPages::uploadDone(const QString& customerName, int fileCount) {
    const QString files = fileCount == 1 ? QStringLiteral("Ihre Datei ist")
                                         : QStringLiteral("Ihre %1 Dateien sind").arg(fileCount);
    return page(QStringLiteral("Vielen Dank"),
                QStringLiteral("<h1>Vielen Dank, %1!</h1><p>%2 bei uns angekommen.</p>"
                               "<p><a href=\"/\">Weitere Dateien hochladen</a></p>")
                    .arg(customerName.toHtmlEscaped(), files));
}

QString ServerPages::downloadPage(const QString& heading, const QList<Link>& files) {
    QString list;
    for (const auto& file : files) {
        list += QStringLiteral("<li><a href=\"%1\">%2</a> (%3)</li>")
                    .arg(file.href.toHtmlEscaped(), file.name.toHtmlEscaped(),
                         ServerNames::formatSize(file.size));
    }
    return page(heading,
                QStringLiteral("<h1>%1</h1><p>Diese Dateien stehen zum Herunterladen bereit:</p><ul>%2</ul>")
                    .arg(heading.toHtmlEscaped(), list));
}

QString ServerPages::passwordPage(const QString& code, bool wrongPassword) {
    QString body = QStringLiteral(
        "<h1>Passwort erforderlich</h1><p>Dieser Download ist mit einem Passwort geschützt.</p>");
    if (wrongPassword)
        body += QStringLiteral("<p class=\"hinweis\">Das Passwort ist falsch.</p>");
    body += QStringLiteral("<form method=\"get\" action=\"/d/%1\"><label>Passwort"
                           "<input type=\"password\" name=\"password\" required autofocus></label>"
                           "<button type=\"submit\">Weiter</button></form>")
                .arg(QString::fromLatin1(ServerNames::percentEncodeSegment(code)));
    return page(QStringLiteral("Passwort erforderlich"), body);
}

QString ServerPages::message(const QString& heading, const QString& text) {
    return page(heading,
                QStringLiteral("<h1>%1</h1><p>%2</p>").arg(heading.toHtmlEscaped(), text.toHtmlEscaped()));
}
