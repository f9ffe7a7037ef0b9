<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>AppEnvironment</name>
    <message>
        <source>Favorites</source>
        <translation>Favoris</translation>
    </message>
    <message>
        <source>Imported Presets</source>
        <translation>Préréglages importés</translation>
    </message>
</context>
<context>
    <name>Product</name>
    <message>
        <source>Install</source>
        <translation>Installer</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Ouvrir</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Mettre à jour</translation>
    </message>
    <message>
        <source>Uninstall</source>
        <translation>Désinstaller</translation>
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
        <translation>Mise à jour...</translation>
    </message>
    <message>
        <source>offline, click to re-connect</source>
        <translation>hors ligne, cliquez pour vous reconnecter</translation>
    </message>
    <message>
        <source>A new version of Solvane Manager is available.  Click to update.</source>
        <translation>Une nouvelle version de Solvane Manager est disponible.  Cliquez pour mettre à jour.</translation>
    </message>
    <message>
        <source>Your applications and plug-ins:</source>
        <translation>Vos applications et modules :</translation>
    </message>
    <message>
        <source>Tools you might love:</source>
        <translation>Des outils que vous pourriez aimer :</translation>
    </message>
</context>
<context>
    <name>ProductWidget</name>
    <message>
        <source>Buy Now</source>
        <translation>Acheter</translation>
    </message>
    <message>
        <source>Learn more...</source>
        <translation>En savoir plus...</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>Téléchargement...</translation>
    </message>
    <message>
        <source>v%1
up to date</source>
        <translation>v%1
à jour</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Product display language:</source>
        <translation>Langue d'affichage des produits :</translation>
    </message>
    <message>
        <source>Solvane Manager settings</source>
        <translation>Paramètres de Solvane Manager</translation>
    </message>
    <message>
        <source>Kivo Manager Menu</source>
        <translation>Menu Kivo Manager</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Product ID</source>
        <translation>ID du produit</translation>
    </message>
</context>
</TS>
