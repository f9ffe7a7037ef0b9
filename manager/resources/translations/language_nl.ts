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
    <name>MainWindow</name>
    <message>
        <source>Solvane Manager</source>
        <translation>Solvane Manager</translation>
    </message>
    <message>
        <source>offline, click to re-connect</source>
        <translation>offline, klik om opnieuw te verbinden</translation>
    </message>
    <message>
        <source>Updating...</source>
        <translation>Bijwerken...</translation>
    </message>
    <message>
        <source>A new version of the Kivo Manager is available.  Click to update.</source>
        <translation>Er is een nieuwe versie van Kivo Manager beschikbaar.  Klik om bij te werken.</translation>
    </message>
    <message>
        <source>A new version of Solvane Manager is available.  Click to update.</source>
        <translation>Er is een nieuwe versie van Solvane Manager beschikbaar.  Klik om bij te werken.</translation>
    </message>
    <message>
        <source>Your applications, plug-ins, workflows, and signature editions:</source>
        <translation>Uw applicaties, plug-ins, workflows en Signature-edities:</translation>
    </message>
    <message>
        <source>Your applications and plug-ins:</source>
        <translation>Uw applicaties en plug-ins:</translation>
    </message>
    <message>
        <source>Tools you might love:</source>
        <translation>Tools die u misschien geweldig vindt:</translation>
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
    <name>ProductWidget</name>
    <message>
        <source>Form</source>
        <translation>Formulier</translation>
    </message>
    <message>
        <source>ProductWidget</source>
        <translation>Productkaart</translation>
    </message>
    <message>
        <source>ProductWidget/groupBox</source>
        <translation>Productkaart/groep</translation>
    </message>
    <message>
        <source>Icon</source>
        <translation>Pictogram</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Naam</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>Beschrijving</translation>
    </message>
    <message>
        <source>Buy Now</source>
        <translation>Nu kopen</translation>
    </message>
    <message>
        <source>Learn more...</source>
        <translation>Meer informatie...</translation>
    </message>
    <message>
        <source>v%1
up to date</source>
        <translation>v%1
actueel</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>Downloaden...</translation>
    </message>
    <message>
        <source>The download failed. Check the connection and try again.</source>
        <translation>Het downloaden is mislukt. Controleer de verbinding en probeer het opnieuw.</translation>
    </message>
    <message>
        <source>The downloaded installer is damaged. Try again later.</source>
        <translation>Het gedownloade installatieprogramma is beschadigd. Probeer het later opnieuw.</translation>
    </message>
    <message>
        <source>The installer could not be verified, so it was not run.</source>
        <translation>Het installatieprogramma kon niet worden gecontroleerd en is daarom niet uitgevoerd.</translation>
    </message>
    <message>
        <source>The installer is for another product, so it was not run.</source>
        <translation>Het installatieprogramma is voor een ander product en is daarom niet uitgevoerd.</translation>
    </message>
    <message>
        <source>The installation did not complete.</source>
        <translation>De installatie is niet voltooid.</translation>
    </message>
    <message>
        <source>The product is not installed.</source>
        <translation>Het product is niet geïnstalleerd.</translation>
    </message>
    <message>
        <source>The product could not be removed.</source>
        <translation>Het product kon niet worden verwijderd.</translation>
    </message>
    <message>
        <source>The operation failed.</source>
        <translation>De bewerking is mislukt.</translation>
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
<context>
    <name>UpdateDialog</name>
    <message>
        <source>Software Update</source>
        <translation>Software-update</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Downloaden</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Sluiten</translation>
    </message>
    <message>
        <source>Checking for updates...</source>
        <translation>Zoeken naar updates...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuleren</translation>
    </message>
    <message>
        <source>A new version of %1 is available.</source>
        <translation>Er is een nieuwe versie van %1 beschikbaar.</translation>
    </message>
    <message>
        <source>%1 %2 is available; you have %3.</source>
        <translation>%1 %2 is beschikbaar; u hebt %3.</translation>
    </message>
    <message>
        <source>Remind Me Later</source>
        <translation>Later herinneren</translation>
    </message>
    <message>
        <source>The update check failed.</source>
        <translation>Het zoeken naar updates is mislukt.</translation>
    </message>
    <message>
        <source>You&apos;re up to date.</source>
        <translation>U hebt de nieuwste versie.</translation>
    </message>
    <message>
        <source>%1 %2 is the newest version available.</source>
        <translation>%1 %2 is de nieuwste beschikbare versie.</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Command to run: checkupdate, uploadevents, show, install or quit.</source>
        <translation>Uit te voeren opdracht: checkupdate, uploadevents, show, install of quit.</translation>
    </message>
    <message>
        <source>Product ID</source>
        <translation>Product-ID</translation>
    </message>
</context>
</TS>
