<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AppEnvironment</name>
    <message>
        <source>Favorites</source>
        <translation>Favoriten</translation>
    </message>
    <message>
        <source>Imported Presets</source>
        <translation>Importierte Vorgaben</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Solvane Manager</source>
        <translation>Solvane Manager</translation>
    </message>
    <message>
        <source>offline, click to re-connect</source>
        <translation>offline, zum erneuten Verbinden klicken</translation>
    </message>
    <message>
        <source>Updating...</source>
        <translation>Wird aktualisiert...</translation>
    </message>
    <message>
        <source>A new version of the Kivo Manager is available.  Click to update.</source>
        <translation>Eine neue Version des Kivo Manager ist verfügbar.  Zum Aktualisieren klicken.</translation>
    </message>
    <message>
        <source>A new version of Solvane Manager is available.  Click to update.</source>
        <translation>Eine neue Version von Solvane Manager ist verfügbar.  Zum Aktualisieren klicken.</translation>
    </message>
    <message>
        <source>Your applications, plug-ins, workflows, and signature editions:</source>
        <translation>Ihre Anwendungen, Plug-ins, Workflows und Signature Editions:</translation>
    </message>
    <message>
        <source>Your applications and plug-ins:</source>
        <translation>Ihre Anwendungen und Plug-ins:</translation>
    </message>
    <message>
        <source>Tools you might love:</source>
        <translation>Werkzeuge, die Ihnen gefallen könnten:</translation>
    </message>
</context>
<context>
    <name>Product</name>
    <message>
        <source>Install</source>
        <translation>Installieren</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Uninstall</source>
        <translation>Deinstallieren</translation>
    </message>
</context>
<context>
    <name>ProductWidget</name>
    <message>
        <source>Form</source>
        <translation>Formular</translation>
    </message>
    <message>
        <source>ProductWidget</source>
        <translation>Produktkarte</translation>
    </message>
    <message>
        <source>ProductWidget/groupBox</source>
        <translation>Produktkarte/Gruppe</translation>
    </message>
    <message>
        <source>Icon</source>
        <translation>Symbol</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>Beschreibung</translation>
    </message>
    <message>
        <source>Buy Now</source>
        <translation>Jetzt kaufen</translation>
    </message>
    <message>
        <source>Learn more...</source>
        <translation>Mehr erfahren...</translation>
    </message>
    <message>
        <source>v%1
up to date</source>
        <translation>v%1
aktuell</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>Wird heruntergeladen...</translation>
    </message>
    <message>
        <source>The download failed. Check the connection and try again.</source>
        <translation>Der Download ist fehlgeschlagen. Prüfen Sie die Verbindung und versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>The downloaded installer is damaged. Try again later.</source>
        <translation>Das heruntergeladene Installationsprogramm ist beschädigt. Versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>The installer could not be verified, so it was not run.</source>
        <translation>Das Installationsprogramm konnte nicht überprüft werden und wurde daher nicht ausgeführt.</translation>
    </message>
    <message>
        <source>The installer is for another product, so it was not run.</source>
        <translation>Das Installationsprogramm gehört zu einem anderen Produkt und wurde daher nicht ausgeführt.</translation>
    </message>
    <message>
        <source>The installation did not complete.</source>
        <translation>Die Installation wurde nicht abgeschlossen.</translation>
    </message>
    <message>
        <source>The product is not installed.</source>
        <translation>Das Produkt ist nicht installiert.</translation>
    </message>
    <message>
        <source>The product could not be removed.</source>
        <translation>Das Produkt konnte nicht entfernt werden.</translation>
    </message>
    <message>
        <source>The operation failed.</source>
        <translation>Der Vorgang ist fehlgeschlagen.</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Product display language:</source>
        <translation>Anzeigesprache der Produkte:</translation>
    </message>
    <message>
        <source>Kivo Manager Menu</source>
        <translation>Kivo-Manager-Menü</translation>
    </message>
    <message>
        <source>Solvane Manager settings</source>
        <translation>Einstellungen von Solvane Manager</translation>
    </message>
</context>
<context>
    <name>UpdateDialog</name>
    <message>
        <source>Software Update</source>
        <translation>Softwareaktualisierung</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Herunterladen</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Checking for updates...</source>
        <translation>Suche nach Aktualisierungen...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>A new version of %1 is available.</source>
        <translation>Eine neue Version von %1 ist verfügbar.</translation>
    </message>
    <message>
        <source>%1 %2 is available; you have %3.</source>
        <translation>%1 %2 ist verfügbar; installiert ist %3.</translation>
    </message>
    <message>
        <source>Remind Me Later</source>
        <translation>Später erinnern</translation>
    </message>
    <message>
        <source>The update check failed.</source>
        <translation>Die Suche nach Aktualisierungen ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>You&apos;re up to date.</source>
        <translation>Sie sind auf dem neuesten Stand.</translation>
    </message>
    <message>
        <source>%1 %2 is the newest version available.</source>
        <translation>%1 %2 ist die neueste verfügbare Version.</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Command to run: checkupdate, uploadevents, show, install or quit.</source>
        <translation>Auszuführender Befehl: checkupdate, uploadevents, show, install oder quit.</translation>
    </message>
    <message>
        <source>Product ID</source>
        <translation>Produkt-ID</translation>
    </message>
</context>
</TS>
