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
    <name>MainWindow</name>
    <message>
        <source>Solvane Manager</source>
        <translation>Solvane Manager</translation>
    </message>
    <message>
        <source>offline, click to re-connect</source>
        <translation>offline, click to re-connect</translation>
    </message>
    <message>
        <source>Updating...</source>
        <translation>Updating...</translation>
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
    <name>ProductWidget</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>ProductWidget</source>
        <translation>ProductWidget</translation>
    </message>
    <message>
        <source>ProductWidget/groupBox</source>
        <translation>ProductWidget/groupBox</translation>
    </message>
    <message>
        <source>Icon</source>
        <translation>Icon</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>Buy Now</source>
        <translation>Buy Now</translation>
    </message>
    <message>
        <source>Learn more...</source>
        <translation>Learn more...</translation>
    </message>
    <message>
        <source>v%1
up to date</source>
        <translation>v%1
up to date</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>Downloading...</translation>
    </message>
    <message>
        <source>The download failed. Check the connection and try again.</source>
        <translation>The download failed. Check the connection and try again.</translation>
    </message>
    <message>
        <source>The downloaded installer is damaged. Try again later.</source>
        <translation>The downloaded installer is damaged. Try again later.</translation>
    </message>
    <message>
        <source>The installer could not be verified, so it was not run.</source>
        <translation>The installer could not be verified, so it was not run.</translation>
    </message>
    <message>
        <source>The installer is for another product, so it was not run.</source>
        <translation>The installer is for another product, so it was not run.</translation>
    </message>
    <message>
        <source>The installation did not complete.</source>
        <translation>The installation did not complete.</translation>
    </message>
    <message>
        <source>The product is not installed.</source>
        <translation>The product is not installed.</translation>
    </message>
    <message>
        <source>The product could not be removed.</source>
        <translation>The product could not be removed.</translation>
    </message>
    <message>
        <source>The operation failed.</source>
        <translation>The operation failed.</translation>
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
    <name>UpdateDialog</name>
    <message>
        <source>Software Update</source>
        <translation>Software Update</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Checking for updates...</source>
        <translation>Checking for updates...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>A new version of %1 is available.</source>
        <translation>A new version of %1 is available.</translation>
    </message>
    <message>
        <source>%1 %2 is available; you have %3.</source>
        <translation>%1 %2 is available; you have %3.</translation>
    </message>
    <message>
        <source>Remind Me Later</source>
        <translation>Remind Me Later</translation>
    </message>
    <message>
        <source>The update check failed.</source>
        <translation>The update check failed.</translation>
    </message>
    <message>
        <source>You&apos;re up to date.</source>
        <translation>You&apos;re up to date.</translation>
    </message>
    <message>
        <source>%1 %2 is the newest version available.</source>
        <translation>%1 %2 is the newest version available.</translation>
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
