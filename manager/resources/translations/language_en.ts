<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>AppEnvironment</name>
    <message>
        <source>Favorites</source>
        <translation>Favorites</translation>
    </message>
    <message>
        <source>Imported Presets</source>
        <translation>Imported Presets</translation>
    </message>
</context>
<context>
    <name>Product</name>
    <message>
        <source>Install</source>
        <translation>Install</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Update</translation>
    </message>
    <message>
        <source>Uninstall</source>
        <translation>Uninstall</translation>
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
        <translation>Updating...</translation>
    </message>
    <message>
        <source>offline, click to re-connect</source>
        <translation>offline, click to re-connect</translation>
    </message>
    <message>
        <source>A new version of the Kivo Manager is available.  Click to update.</source>
        <translation>A new version of the Kivo Manager is available.  Click to update.</translation>
    </message>
    <message>
        <source>A new version of Solvane Manager is available.  Click to update.</source>
        <translation>A new version of Solvane Manager is available.  Click to update.</translation>
    </message>
    <message>
        <source>Your applications, plug-ins, workflows, and signature editions:</source>
        <translation>Your applications, plug-ins, workflows, and signature editions:</translation>
    </message>
    <message>
        <source>Your applications and plug-ins:</source>
        <translation>Your applications and plug-ins:</translation>
    </message>
    <message>
        <source>Tools you might love:</source>
        <translation>Tools you might love:</translation>
    </message>
</context>
<context>
    <name>ProductWidget</name>
    <message>
        <source>Buy Now</source>
        <translation>Buy Now</translation>
    </message>
    <message>
        <source>Learn more...</source>
        <translation>Learn more...</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>Downloading...</translation>
    </message>
    <message>
        <source>v%1
up to date</source>
        <translation>v%1
up to date</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Product display language:</source>
        <translation>Product display language:</translation>
    </message>
    <message>
        <source>Kivo Manager Menu</source>
        <translation>Kivo Manager Menu</translation>
    </message>
    <message>
        <source>Solvane Manager settings</source>
        <translation>Solvane Manager settings</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>The product list appears here once the catalog has been loaded.</source>
        <translation>The product list appears here once the catalog has been loaded.</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Command to run: checkupdate, uploadevents, show, install or quit.</source>
        <translation>Command to run: checkupdate, uploadevents, show, install or quit.</translation>
    </message>
    <message>
        <source>Product ID</source>
        <translation>Product ID</translation>
    </message>
</context>
</TS>
