<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="nl_NL">
<context>
    <name>AppEnvironment</name>
    <message>
        <source>Favorites</source>
        <translation>Favorieten</translation>
    </message>
    <message>
        <source>Imported Presets</source>
        <translation>Geïmporteerde voorinstellingen</translation>
    </message>
</context>
<context>
    <name>Product</name>
    <message>
        <source>Install</source>
        <translation>Installeren</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Openen</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Bijwerken</translation>
    </message>
    <message>
        <source>Uninstall</source>
        <translation>Verwijderen</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Solvane Manager</source>
        <translation>Solvane Manager</translation>
    </message>
    <message>
        <source>Updating...</source>
        <translation>Bijwerken...</translation>
    </message>
    <message>
        <source>offline, click to re-connect</source>
        <translation>offline, klik om opnieuw te verbinden</translation>
    </message>
</context>
<context>
    <name>ProductWidget</name>
    <message>
        <source>Buy Now</source>
        <translation>Nu kopen</translation>
    </message>
    <message>
        <source>Learn more...</source>
        <translation>Meer informatie...</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>Downloaden...</translation>
    </message>
    <message>
        <source>v%1
up to date</source>
        <translation>v%1
bijgewerkt</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Product display language:</source>
        <translation>Weergavetaal van producten:</translation>
    </message>
    <message>
        <source>Kivo Manager Menu</source>
        <translation>Kivo Manager-menu</translation>
    </message>
    <message>
        <source>Solvane Manager settings</source>
        <translation>Instellingen van Solvane Manager</translation>
    </message>
</context>
</TS>
