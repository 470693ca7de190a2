<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="de">
<context>
    <name>APIService</name>
    <message>
        <source>Unerwartete Antwort (kein JSON): </source>
        <translation>Unexpected answer (not JSON): </translation>
    </message>
    <message>
        <source>Die Daten konnten nicht gelesen werden, weil sie kein gültiges JSON sind (%1).</source>
        <translation>The data could not be read because it is not valid JSON (%1).</translation>
    </message>
    <message>
        <source>Der Ordner „%1“ konnte nicht erstellt werden: %2</source>
        <translation>The folder “%1” could not be created: %2</translation>
    </message>
</context>
<context>
    <name>APIServiceIncoming</name>
    <message>
        <source>Markierung fehlgeschlagen</source>
        <translation>Marking failed</translation>
    </message>
</context>
<context>
    <name>APIServiceOutgoing</name>
    <message>
        <source>Fehler beim Laden der Transfers</source>
        <translation>Error loading the transfers</translation>
    </message>
    <message>
        <source>Download fehlgeschlagen (HTTP %1)</source>
        <translation>Download failed (HTTP %1)</translation>
    </message>
</context>
<context>
    <name>APIServiceUpload</name>
    <message>
        <source>Antwort unlesbar: </source>
        <translation>Unreadable answer: </translation>
    </message>
    <message>
        <source>Datei leer oder nicht lesbar</source>
        <translation>File empty or not readable</translation>
    </message>
</context>
<context>
    <name>Application</name>
    <message>
        <source>Panel öffnen</source>
        <translation>Open Panel</translation>
    </message>
    <message>
        <source>Dateien senden…</source>
        <translation>Send Files…</translation>
    </message>
    <message>
        <source>Einstellungen</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Zanvolt beenden</source>
        <translation>Quit Zanvolt</translation>
    </message>
    <message>
        <source>Kein Infobereich gefunden. Starte „zanvolt“ erneut, um das Panel zu öffnen.</source>
        <translation>No system tray found. Start “zanvolt” again to open the panel.</translation>
    </message>
    <message>
        <source>Richte zuerst den Server in den Einstellungen ein.</source>
        <translation>Set up the server in the settings first.</translation>
    </message>
</context>
<context>
    <name>ClientSession</name>
    <message>
        <source>Das Zertifikat des Servers kann nicht in „%1“ gespeichert werden. Es gilt nur, bis Zanvolt beendet wird.</source>
        <translation>The server&apos;s certificate cannot be saved in “%1”. It holds only until Zanvolt quits.</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Zanvolt – Dateien über den Transfer-Server senden.

Befehle:
  zanvolt [DATEI…]
      Dateien an den laufenden Zanvolt übergeben (startet ihn, wenn keiner läuft)
  zanvolt send [--password] [--json] DATEI…
      hochladen (mehrere Dateien oder ein Ordner als ZIP) und den Download-Link
      ausgeben, mit --password auch das vom Server erzeugte Passwort (zweite Zeile)
  zanvolt list [--json]
      gesendete Transfers auflisten: Name, Datum, Link, heruntergeladen
  zanvolt inbox [--json]
      Kunden-Uploads auflisten

Rückgabewerte:
  0  Erfolg
  1  abgebrochen oder keine Antwort vom laufenden Zanvolt
  2  falscher Aufruf
  3  Konfiguration fehlt (Server-URL, API-Key, Schlüsselbund)
  4  Netzwerk- oder Server-Fehler
  5  Datei fehlt, ist nicht lesbar oder konnte nicht gepackt werden</source>
        <translation>Zanvolt – send files through the transfer server.

Commands:
  zanvolt [FILE…]
      hand files to the running Zanvolt (starts it when none runs)
  zanvolt send [--password] [--json] FILE…
      upload (several files or a folder as a ZIP) and print the download link,
      with --password also the password the server generated (second line)
  zanvolt list [--json]
      list sent transfers: name, date, link, downloaded
  zanvolt inbox [--json]
      list customer uploads

Exit codes:
  0  success
  1  cancelled or no answer from the running Zanvolt
  2  wrong usage
  3  configuration missing (server URL, API key, keyring)
  4  network or server error
  5  file missing, not readable or could not be packed</translation>
    </message>
    <message>
        <source>
Mehr dazu: zanvolt --help</source>
        <translation>
More: zanvolt --help</translation>
    </message>
    <message>
        <source>send: den Server ein Passwort erzeugen lassen</source>
        <translation>send: have the server generate a password</translation>
    </message>
    <message>
        <source>Ausgabe als JSON</source>
        <translation>Output as JSON</translation>
    </message>
    <message>
        <source>send, list oder inbox</source>
        <translation>send, list or inbox</translation>
    </message>
    <message>
        <source>send: Dateien oder Ordner</source>
        <translation>send: files or folders</translation>
    </message>
    <message>
        <source>[DATEI…]</source>
        <translation>[FILE…]</translation>
    </message>
    <message>
        <source>Kein Befehl angegeben.</source>
        <translation>No command given.</translation>
    </message>
    <message>
        <source>Unbekannter Befehl: %1</source>
        <translation>Unknown command: %1</translation>
    </message>
    <message>
        <source>Unerwartetes Argument: %1</source>
        <translation>Unexpected argument: %1</translation>
    </message>
    <message>
        <source>--password gilt nur für send.</source>
        <translation>--password applies to send only.</translation>
    </message>
    <message>
        <source>Keine Dateien angegeben.</source>
        <translation>No files given.</translation>
    </message>
    <message>
        <source>Datei nicht gefunden: %1</source>
        <translation>File not found: %1</translation>
    </message>
    <message>
        <source>Datei nicht lesbar: %1</source>
        <translation>File not readable: %1</translation>
    </message>
    <message>
        <source>befehl</source>
        <translation>command</translation>
    </message>
    <message>
        <source>dateien</source>
        <translation>files</translation>
    </message>
</context>
<context>
    <name>Commands</name>
    <message>
        <source>Keine Dateien zum Senden gefunden.</source>
        <translation>No files found to send.</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Datum</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>Link</source>
        <translation>Link</translation>
    </message>
    <message>
        <source>Heruntergeladen</source>
        <translation>Downloaded</translation>
    </message>
    <message>
        <source>Kunde</source>
        <translation>Customer</translation>
    </message>
    <message>
        <source>Auftragsnummer</source>
        <translation>Order number</translation>
    </message>
    <message>
        <source>Dateien</source>
        <translation>Files</translation>
    </message>
    <message>
        <source>Größe</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>ja</source>
        <translation>yes</translation>
    </message>
    <message>
        <source>nein</source>
        <translation>no</translation>
    </message>
</context>
<context>
    <name>CopiedOverlay</name>
    <message>
        <source>Link kopiert</source>
        <translation>Link copied</translation>
    </message>
</context>
<context>
    <name>FeedUpdaterBackend</name>
    <message>
        <source>HTTP-Status %1</source>
        <translation>HTTP status %1</translation>
    </message>
    <message>
        <source>Keine Update-Quelle eingerichtet.</source>
        <translation>No update source is set up.</translation>
    </message>
    <message>
        <source>Updates kommen über die Paketverwaltung.</source>
        <translation>Updates come through the package manager.</translation>
    </message>
    <message>
        <source>Zanvolt ist auf dem neuesten Stand.</source>
        <translation>Zanvolt is up to date.</translation>
    </message>
    <message>
        <source>Version %1 ist die neueste verfügbare Version.</source>
        <translation>Version %1 is the newest version available.</translation>
    </message>
    <message>
        <source>Zanvolt %1 ist verfügbar.</source>
        <translation>Zanvolt %1 is available.</translation>
    </message>
    <message>
        <source>Installiert ist Version %1.</source>
        <translation>Installed is version %1.</translation>
    </message>
    <message>
        <source> Diese Installation wird über die Paketverwaltung aktualisiert.</source>
        <translation> This installation is updated through the package manager.</translation>
    </message>
    <message>
        <source>Installieren</source>
        <translation>Install</translation>
    </message>
    <message>
        <source>Später</source>
        <translation>Later</translation>
    </message>
    <message>
        <source>Zanvolt %1 wird geladen …</source>
        <translation>Downloading Zanvolt %1 …</translation>
    </message>
</context>
<context>
    <name>Format</name>
    <message>
        <source>ca. %1h %2 Min.</source>
        <translation>approx. %1h %2 min</translation>
    </message>
    <message>
        <source>ca. %1 Min.</source>
        <translation>approx. %1 min</translation>
    </message>
    <message>
        <source>ca. %1s</source>
        <translation>approx. %1s</translation>
    </message>
    <message>
        <source>berechne...</source>
        <translation>calculating...</translation>
    </message>
</context>
<context>
    <name>IncomingPresenter</name>
    <message>
        <source>· Auftrag %1</source>
        <translation>· Order %1</translation>
    </message>
    <message>
        <source>Erneut herunterladen</source>
        <translation>Download Again</translation>
    </message>
    <message>
        <source>Dateien herunterladen</source>
        <translation>Download Files</translation>
    </message>
    <message>
        <source>Details</source>
        <translation>Details</translation>
    </message>
</context>
<context>
    <name>JsonFields</name>
    <message>
        <source>Die Daten konnten nicht gelesen werden, weil „%1“ fehlt.</source>
        <translation>The data could not be read because “%1” is missing.</translation>
    </message>
    <message>
        <source>Die Daten konnten nicht gelesen werden, weil „%1“ den falschen Typ hat.</source>
        <translation>The data could not be read because “%1” has the wrong type.</translation>
    </message>
    <message>
        <source>Ungültiges Datum: </source>
        <translation>Invalid date: </translation>
    </message>
</context>
<context>
    <name>PanelView</name>
    <message>
        <source>Einstellungen</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Senden</source>
        <translation>Send</translation>
    </message>
    <message>
        <source>Empfangen</source>
        <translation>Receive</translation>
    </message>
    <message>
        <source>Zanvolt beenden</source>
        <translation>Quit Zanvolt</translation>
    </message>
</context>
<context>
    <name>PanelWindow</name>
    <message>
        <source>Größe ändern</source>
        <translation>Resize</translation>
    </message>
</context>
<context>
    <name>PrivateTempDir</name>
    <message>
        <source>Temporärer Ordner „%1“ nicht nutzbar: %2</source>
        <translation>Temporary folder “%1” cannot be used: %2</translation>
    </message>
    <message>
        <source>kein Cache-Ordner</source>
        <translation>no cache folder</translation>
    </message>
    <message>
        <source>ist ein symbolischer Link</source>
        <translation>is a symbolic link</translation>
    </message>
    <message>
        <source>gehört nicht diesem Benutzer</source>
        <translation>does not belong to this user</translation>
    </message>
</context>
<context>
    <name>ReceiveTab</name>
    <message>
        <source>Empfangen</source>
        <translation>Receive</translation>
    </message>
    <message>
        <source>Transfer-Server nicht konfiguriert</source>
        <translation>Transfer server not configured</translation>
    </message>
    <message>
        <source>Einstellungen öffnen</source>
        <translation>Open Settings</translation>
    </message>
    <message>
        <source>Schließen</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Keine Kunden-Uploads</source>
        <translation>No customer uploads</translation>
    </message>
    <message>
        <source>Kunden können Dateien über die Webseite senden</source>
        <translation>Customers can send files through the website</translation>
    </message>
    <message>
        <source>Kunden-Uploads</source>
        <translation>Customer uploads</translation>
    </message>
    <message>
        <source>Eingang von %1 löschen?</source>
        <translation>Delete the upload from %1?</translation>
    </message>
    <message>
        <source>Die Dateien werden unwiderruflich vom Server entfernt.</source>
        <translation>The files will be removed from the server for good.</translation>
    </message>
    <message>
        <source>Löschen</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>Abbrechen</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>ReceivedUploads</name>
    <message>
        <source>Lade herunter...</source>
        <translation>Downloading...</translation>
    </message>
    <message>
        <source>Lade %1...</source>
        <translation>Downloading %1...</translation>
    </message>
    <message>
        <source>%1 Datei(en) von %2 heruntergeladen</source>
        <translation>%1 file(s) from %2 downloaded</translation>
    </message>
</context>
<context>
    <name>RefreshFooter</name>
    <message>
        <source>Aktualisieren</source>
        <translation>Refresh</translation>
    </message>
</context>
<context>
    <name>RenameDialog</name>
    <message>
        <source>Datei umbenennen</source>
        <translation>Rename File</translation>
    </message>
    <message>
        <source>Basisname</source>
        <translation>Base name</translation>
    </message>
    <message>
        <source>Abbrechen</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Speichern</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Dieser Transfer ist nicht mehr auf dem Server.</source>
        <translation>This transfer is no longer on the server.</translation>
    </message>
    <message>
        <source>Speichere…</source>
        <translation>Saving…</translation>
    </message>
</context>
<context>
    <name>SendTab</name>
    <message>
        <source>Senden</source>
        <translation>Send</translation>
    </message>
    <message>
        <source>Upload fertig</source>
        <translation>Upload done</translation>
    </message>
    <message>
        <source>Schließen</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Link:</source>
        <translation>Link:</translation>
    </message>
    <message>
        <source>Kopieren</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>Passwort kopieren</source>
        <translation>Copy Password</translation>
    </message>
    <message>
        <source>Upload-Fortschritt</source>
        <translation>Upload progress</translation>
    </message>
    <message>
        <source>Upload abbrechen</source>
        <translation>Cancel upload</translation>
    </message>
    <message>
        <source>Dateien hierher ziehen oder auswählen,
um einen Upload zu starten.</source>
        <translation>Drag files here or choose them
to start an upload.</translation>
    </message>
    <message>
        <source>Dateien auswählen…</source>
        <translation>Choose Files…</translation>
    </message>
    <message>
        <source>Ordner auswählen…</source>
        <translation>Choose Folder…</translation>
    </message>
    <message>
        <source>Ordner auswählen</source>
        <translation>Choose Folder</translation>
    </message>
    <message>
        <source>Dateien auswählen</source>
        <translation>Choose Files</translation>
    </message>
    <message>
        <source>Gesendete Dateien</source>
        <translation>Sent files</translation>
    </message>
    <message>
        <source>1 weiterer Upload in Warteschlange</source>
        <translation>1 more upload queued</translation>
    </message>
    <message>
        <source>%1 weitere Uploads in Warteschlange</source>
        <translation>%1 more uploads queued</translation>
    </message>
</context>
<context>
    <name>SentRow</name>
    <message>
        <source>Dateiliste</source>
        <translation>File list</translation>
    </message>
    <message>
        <source>Passwortgeschützt</source>
        <translation>Password protected</translation>
    </message>
    <message>
        <source>Herunterladen</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>Umbenennen…</source>
        <translation>Rename…</translation>
    </message>
    <message>
        <source>Löschen</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>Passwort kopieren</source>
        <translation>Copy Password</translation>
    </message>
    <message>
        <source>Verbergen</source>
        <translation>Hide</translation>
    </message>
    <message>
        <source>Passwort wird geladen...</source>
        <translation>Loading password...</translation>
    </message>
    <message>
        <source>Neues Passwort erzeugen?</source>
        <translation>Generate a new password?</translation>
    </message>
    <message>
        <source>Das aktuelle Passwort wird sofort ungültig. Kunden müssen mit dem neuen Passwort downloaden.</source>
        <translation>The current password stops working at once. Customers must download with the new password.</translation>
    </message>
    <message>
        <source>Neu erzeugen</source>
        <translation>Generate New</translation>
    </message>
    <message>
        <source>Abbrechen</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Passwortschutz entfernen?</source>
        <translation>Remove password protection?</translation>
    </message>
    <message>
        <source>Der Link ist danach ohne Passwort abrufbar.</source>
        <translation>The link can then be opened without a password.</translation>
    </message>
    <message>
        <source>Entfernen</source>
        <translation>Remove</translation>
    </message>
</context>
<context>
    <name>SentTransfers</name>
    <message>
        <source>Der Verlauf ist nicht lesbar und wird nicht überschrieben: </source>
        <translation>The history is not readable and will not be overwritten: </translation>
    </message>
    <message>
        <source>Der Verlauf war teilweise unlesbar; die Datei wurde aufbewahrt: </source>
        <translation>The history was partly unreadable; the file was kept: </translation>
    </message>
    <message>
        <source>Der Verlauf konnte nicht gespeichert werden: </source>
        <translation>The history could not be saved: </translation>
    </message>
    <message>
        <source>Fehler beim Laden der Transfers: </source>
        <translation>Error loading the transfers: </translation>
    </message>
    <message>
        <source>Passwort konnte nicht geladen werden: </source>
        <translation>The password could not be loaded: </translation>
    </message>
    <message>
        <source>Passwort konnte nicht erzeugt werden: </source>
        <translation>The password could not be generated: </translation>
    </message>
    <message>
        <source>Passwort konnte nicht entfernt werden: </source>
        <translation>The password could not be removed: </translation>
    </message>
    <message>
        <source>Umbenennen fehlgeschlagen: </source>
        <translation>Renaming failed: </translation>
    </message>
    <message>
        <source>Download fehlgeschlagen: </source>
        <translation>Download failed: </translation>
    </message>
</context>
<context>
    <name>ServerAccount</name>
    <message>
        <source>Speichern fehlgeschlagen: </source>
        <translation>Saving failed: </translation>
    </message>
    <message>
        <source>Verbindung erfolgreich! (%1 Eingänge)</source>
        <translation>Connection successful! (%1 uploads)</translation>
    </message>
    <message>
        <source>Fehler: </source>
        <translation>Error: </translation>
    </message>
    <message>
        <source>Autostart-Fehler: </source>
        <translation>Autostart error: </translation>
    </message>
</context>
<context>
    <name>SettingsPage</name>
    <message>
        <source>Einstellungen</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Transfer-Server</source>
        <translation>Transfer server</translation>
    </message>
    <message>
        <source>Server-URL</source>
        <translation>Server URL</translation>
    </message>
    <message>
        <source>API-Key</source>
        <translation>API key</translation>
    </message>
    <message>
        <source>64-Zeichen Hex-Key</source>
        <translation>64-character hex key</translation>
    </message>
    <message>
        <source>Server testen</source>
        <translation>Test Server</translation>
    </message>
    <message>
        <source>Link nach Upload in Zwischenablage kopieren</source>
        <translation>Copy the link to the clipboard after an upload</translation>
    </message>
    <message>
        <source>Bei Anmeldung starten</source>
        <translation>Start at login</translation>
    </message>
    <message>
        <source>Abbrechen</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Speichern</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Teste Verbindung...</source>
        <translation>Testing connection...</translation>
    </message>
    <message>
        <source>Jetzt auf Updates prüfen</source>
        <translation>Check for Updates Now</translation>
    </message>
    <message>
        <source> • Build </source>
        <translation> • Build </translation>
    </message>
</context>
<context>
    <name>StagingFolder</name>
    <message>
        <source>Ordner „%1“ kann nicht angelegt werden: %2</source>
        <translation>Folder “%1” cannot be created: %2</translation>
    </message>
</context>
<context>
    <name>TransferPresenter</name>
    <message>
        <source>· Datei heruntergeladen: %1</source>
        <translation>· File downloaded: %1</translation>
    </message>
    <message>
        <source>Passwort verwalten</source>
        <translation>Manage Password</translation>
    </message>
    <message>
        <source>Passwort hinzufügen</source>
        <translation>Add Password</translation>
    </message>
    <message>
        <source>Passwort erzeugen</source>
        <translation>Generate Password</translation>
    </message>
    <message>
        <source>Passwort anzeigen</source>
        <translation>Show Password</translation>
    </message>
    <message>
        <source>Passwort kopieren</source>
        <translation>Copy Password</translation>
    </message>
    <message>
        <source>Neu erzeugen</source>
        <translation>Generate New</translation>
    </message>
    <message>
        <source>Passwortschutz entfernen</source>
        <translation>Remove Password Protection</translation>
    </message>
    <message>
        <source>Passwortgeschützt</source>
        <translation>Password protected</translation>
    </message>
    <message>
        <source>Herunterladen</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>Umbenennen…</source>
        <translation>Rename…</translation>
    </message>
    <message>
        <source>Dateiliste</source>
        <translation>File list</translation>
    </message>
    <message>
        <source>Verbergen</source>
        <translation>Hide</translation>
    </message>
</context>
<context>
    <name>UpdateDialogs</name>
    <message>
        <source>Abbrechen</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>UpdaterUserDriver</name>
    <message>
        <source>Software-Update</source>
        <translation>Software Update</translation>
    </message>
</context>
<context>
    <name>UploadJob</name>
    <message>
        <source>„%1“ verweist auf nichts (das Ziel der Verknüpfung fehlt) und kann nicht gesendet werden.</source>
        <translation>“%1” points to nothing (the target of the link is missing) and cannot be sent.</translation>
    </message>
    <message>
        <source>„%1“ ist keine normale Datei und kein Ordner und kann nicht gesendet werden.</source>
        <translation>“%1” is neither a regular file nor a folder and cannot be sent.</translation>
    </message>
    <message>
        <source>ZIP erstellen...</source>
        <translation>Creating ZIP...</translation>
    </message>
    <message>
        <source>Hochladen: %1 (%2)...</source>
        <translation>Uploading: %1 (%2)...</translation>
    </message>
    <message>
        <source>%1% von %2 – %3 – %4</source>
        <translation>%1% of %2 – %3 – %4</translation>
    </message>
    <message>
        <source>%1% von %2 – Warte auf Verbindung…</source>
        <translation>%1% of %2 – Waiting for connection…</translation>
    </message>
    <message>
        <source>Der Server hat den Upload verworfen – neuer Start…</source>
        <translation>The server dropped the upload – starting again…</translation>
    </message>
</context>
<context>
    <name>Uploads</name>
    <message>
        <source>Download-Link: %1
Passwort: %2</source>
        <translation>Download link: %1
Password: %2</translation>
    </message>
    <message>
        <source>Link + Passwort kopiert</source>
        <translation>Link + password copied</translation>
    </message>
    <message>
        <source>Upload fertig — Passwort im Banner</source>
        <translation>Upload done — password in the banner</translation>
    </message>
    <message>
        <source>Link kopiert – bereit zum Teilen</source>
        <translation>Link copied – ready to share</translation>
    </message>
    <message>
        <source>Klicken um Link zu kopieren</source>
        <translation>Click to copy the link</translation>
    </message>
    <message>
        <source>Upload abgeschlossen</source>
        <translation>Upload complete</translation>
    </message>
</context>
<context>
    <name>UserText</name>
    <message>
        <source>Der Server „%1“ ist nicht erreichbar</source>
        <translation>The server “%1” cannot be reached</translation>
    </message>
    <message>
        <source>Die Verbindung zum Server „%1“ ist abgebrochen</source>
        <translation>The connection to the server “%1” broke off</translation>
    </message>
    <message>
        <source>Der Servername „%1“ konnte nicht aufgelöst werden</source>
        <translation>The server name “%1” could not be resolved</translation>
    </message>
    <message>
        <source>Die sichere Verbindung zum Server „%1“ konnte nicht aufgebaut werden</source>
        <translation>The secure connection to the server “%1” could not be set up</translation>
    </message>
    <message>
        <source>Die sichere Verbindung zum Server „%1“ konnte nicht aufgebaut werden: Der Server spricht dort kein HTTPS</source>
        <translation>The secure connection to the server “%1” could not be set up: the server does not speak HTTPS there</translation>
    </message>
    <message>
        <source>Der Proxy „%1“ ist nicht erreichbar</source>
        <translation>The proxy “%1” cannot be reached</translation>
    </message>
    <message>
        <source>Der Name des Proxys „%1“ konnte nicht aufgelöst werden</source>
        <translation>The name of the proxy “%1” could not be resolved</translation>
    </message>
    <message>
        <source>Der Proxy „%1“ antwortet nicht</source>
        <translation>The proxy “%1” does not answer</translation>
    </message>
    <message>
        <source>Der Proxy „%1“ stellt keine Verbindung zum Server „%2“ her</source>
        <translation>The proxy “%1” does not connect to the server “%2”</translation>
    </message>
    <message>
        <source>Die Anfrage an den Server „%1“ ist fehlgeschlagen</source>
        <translation>The request to the server “%1” failed</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>Der Server antwortet nicht (%1 Sekunden ohne Daten)</source>
        <translation>The server does not answer (%1 seconds without data)</translation>
    </message>
    <message>
        <source>Übertragung unvollständig: %1 von %2 Bytes erhalten</source>
        <translation>Transfer incomplete: %1 of %2 bytes received</translation>
    </message>
    <message>
        <source>Der Server schickte einen anderen Teil der Datei als erbeten</source>
        <translation>The server sent another part of the file than was asked for</translation>
    </message>
    <message>
        <source>Zertifikat des Servers hat sich geändert</source>
        <translation>The server&apos;s certificate has changed</translation>
    </message>
    <message>
        <source>Antwort des Servers zu groß (über %1 MB)</source>
        <translation>The server&apos;s answer is too large (over %1 MB)</translation>
    </message>
    <message>
        <source>Nicht genug Speicherplatz für den Download</source>
        <translation>Not enough disk space for the download</translation>
    </message>
    <message>
        <source>Die Datei kann nicht in „%1“ gespeichert werden: %2</source>
        <translation>The file cannot be saved in “%1”: %2</translation>
    </message>
    <message>
        <source>Die Datei wurde während des Uploads verändert</source>
        <translation>The file was changed during the upload</translation>
    </message>
    <message>
        <source>Ein HTTP-Header enthält unzulässige Zeichen.</source>
        <translation>An HTTP header contains characters that are not allowed.</translation>
    </message>
    <message>
        <source>Keychain-Fehler: %1</source>
        <translation>Keyring error: %1</translation>
    </message>
    <message>
        <source>Der Schlüsselbund ist gesperrt oder nicht erreichbar (Keychain-Fehler: %1). Die gespeicherten Einstellungen bleiben erhalten.</source>
        <translation>The keyring is locked or cannot be reached (keyring error: %1). The stored settings are kept.</translation>
    </message>
    <message>
        <source>Der Schlüsselbund wurde nicht entsperrt</source>
        <translation>The keyring was not unlocked</translation>
    </message>
    <message>
        <source>Upload abgebrochen</source>
        <translation>Upload cancelled</translation>
    </message>
    <message>
        <source>Upload fehlgeschlagen</source>
        <translation>Upload failed</translation>
    </message>
    <message>
        <source>Server-URL nicht konfiguriert</source>
        <translation>Server URL not configured</translation>
    </message>
    <message>
        <source>API-Key nicht konfiguriert</source>
        <translation>API key not configured</translation>
    </message>
    <message>
        <source>Ungültige Server-URL</source>
        <translation>Invalid server URL</translation>
    </message>
    <message>
        <source>Keine HTTP-Antwort</source>
        <translation>No HTTP answer</translation>
    </message>
    <message>
        <source>Die Daten konnten nicht gelesen werden, weil sie nicht das richtige Format haben.</source>
        <translation>The data could not be read because it is not in the right format.</translation>
    </message>
    <message>
        <source>Die laufende Zanvolt-Instanz antwortet nicht.</source>
        <translation>The running Zanvolt instance does not answer.</translation>
    </message>
    <message>
        <source>Unbekannter Fehler</source>
        <translation>Unknown error</translation>
    </message>
    <message>
        <source>Download fehlgeschlagen</source>
        <translation>Download failed</translation>
    </message>
    <message>
        <source>Download abgeschlossen</source>
        <translation>Download complete</translation>
    </message>
    <message>
        <source>Löschen fehlgeschlagen</source>
        <translation>Deleting failed</translation>
    </message>
    <message>
        <source>Die Aktualisierung ist fehlgeschlagen.</source>
        <translation>The update failed.</translation>
    </message>
    <message>
        <source>Link kopieren</source>
        <translation>Copy Link</translation>
    </message>
    <message>
        <source>Vom Server löschen</source>
        <translation>Delete from Server</translation>
    </message>
    <message>
        <source>· 1 Datei</source>
        <translation>· 1 file</translation>
    </message>
    <message>
        <source>· %1 Dateien</source>
        <translation>· %1 files</translation>
    </message>
    <message>
        <source>Server-Löschung fehlgeschlagen: %1</source>
        <translation>Deleting on the server failed: %1</translation>
    </message>
    <message>
        <source>„%1“ kann nicht gelesen werden: %2</source>
        <translation>“%1” cannot be read: %2</translation>
    </message>
    <message>
        <source>Server-Fehler %1: %2</source>
        <translation>Server error %1: %2</translation>
    </message>
    <message>
        <source>Netzwerk-Fehler: %1</source>
        <translation>Network error: %1</translation>
    </message>
    <message>
        <source>Der API-Schlüssel enthält unzulässige Zeichen.</source>
        <translation>The API key contains characters that are not allowed.</translation>
    </message>
    <message>
        <source>Abgebrochen</source>
        <translation>Cancelled</translation>
    </message>
    <message>
        <source>ZIP-Erstellung fehlgeschlagen: %1</source>
        <translation>Creating the ZIP failed: %1</translation>
    </message>
    <message>
        <source>Keine Dateien zum Zippen</source>
        <translation>No files to zip</translation>
    </message>
    <message>
        <source>Nicht genug Speicherplatz für das ZIP-Archiv: %1 benötigt, %2 frei.</source>
        <translation>Not enough disk space for the ZIP archive: %1 needed, %2 free.</translation>
    </message>
    <message>
        <source>Die Update-Informationen konnten nicht geladen werden: %1</source>
        <translation>The update information could not be loaded: %1</translation>
    </message>
    <message>
        <source>Das Update konnte nicht geladen werden: %1. Es wurde nichts installiert.</source>
        <translation>The update could not be downloaded: %1. Nothing was installed.</translation>
    </message>
    <message>
        <source>Das Update hat nicht die angekündigte Größe. Es wurde nichts installiert.</source>
        <translation>The update does not have the announced size. Nothing was installed.</translation>
    </message>
    <message>
        <source>Das Update ist nicht signiert. Es wurde nichts installiert.</source>
        <translation>The update is not signed. Nothing was installed.</translation>
    </message>
    <message>
        <source>Die Signatur des Updates ist ungültig. Es wurde nichts installiert.</source>
        <translation>The signature of the update is invalid. Nothing was installed.</translation>
    </message>
    <message>
        <source>Das Update konnte nicht installiert werden: %1</source>
        <translation>The update could not be installed: %1</translation>
    </message>
</context>
<context>
    <name>XdgAutostart</name>
    <message>
        <source>Autostart-Eintrag konnte nicht geschrieben werden: </source>
        <translation>The autostart entry could not be written: </translation>
    </message>
    <message>
        <source>Ordner „%1“ kann nicht angelegt werden</source>
        <translation>Folder “%1” cannot be created</translation>
    </message>
    <message>
        <source>Autostart-Eintrag konnte nicht entfernt werden: </source>
        <translation>The autostart entry could not be removed: </translation>
    </message>
</context>
<context>
    <name>ZipService</name>
    <message>
        <source>ZIP-Struktur unlesbar (kein End-of-Central-Directory)</source>
        <translation>ZIP structure unreadable (no end of central directory)</translation>
    </message>
    <message>
        <source>„%1“ kann nicht gepackt werden: %2</source>
        <translation>“%1” cannot be packed: %2</translation>
    </message>
    <message>
        <source>Ordner „%1“ kann nicht angelegt werden: %2</source>
        <translation>Folder “%1” cannot be created: %2</translation>
    </message>
    <message>
        <source>„%1“ fehlt im Archiv</source>
        <translation>“%1” is missing in the archive</translation>
    </message>
    <message>
        <source>Central Directory unvollständig</source>
        <translation>Central directory incomplete</translation>
    </message>
    <message>
        <source>Ungültiger Central-Directory-Header</source>
        <translation>Invalid central directory header</translation>
    </message>
</context>
</TS>
