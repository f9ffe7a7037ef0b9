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
    <name>MainWindow</name>
    <message>
        <source>Solvane Manager</source>
        <translation>Solvane Manager</translation>
    </message>
    <message>
        <source>offline, click to re-connect</source>
        <translation>hors ligne, cliquez pour vous reconnecter</translation>
    </message>
    <message>
        <source>Updating...</source>
        <translation>Mise à jour en cours...</translation>
    </message>
    <message>
        <source>A new version of the Kivo Manager is available.  Click to update.</source>
        <translation>Une nouvelle version de Kivo Manager est disponible.  Cliquez pour mettre à jour.</translation>
    </message>
    <message>
        <source>A new version of Solvane Manager is available.  Click to update.</source>
        <translation>Une nouvelle version de Solvane Manager est disponible.  Cliquez pour mettre à jour.</translation>
    </message>
    <message>
        <source>Your applications, plug-ins, workflows, and signature editions:</source>
        <translation>Vos applications, plug-ins, flux de travail et éditions Signature :</translation>
    </message>
    <message>
        <source>Your applications and plug-ins:</source>
        <translation>Vos applications et plug-ins :</translation>
    </message>
    <message>
        <source>Tools you might love:</source>
        <translation>Des outils que vous pourriez aimer :</translation>
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
    <name>ProductWidget</name>
    <message>
        <source>Form</source>
        <translation>Formulaire</translation>
    </message>
    <message>
        <source>ProductWidget</source>
        <translation>Carte produit</translation>
    </message>
    <message>
        <source>ProductWidget/groupBox</source>
        <translation>Carte produit/groupe</translation>
    </message>
    <message>
        <source>Icon</source>
        <translation>Icône</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Nom</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>Buy Now</source>
        <translation>Acheter</translation>
    </message>
    <message>
        <source>Learn more...</source>
        <translation>En savoir plus...</translation>
    </message>
    <message>
        <source>v%1
up to date</source>
        <translation>v%1
à jour</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>Téléchargement...</translation>
    </message>
    <message>
        <source>The download failed. Check the connection and try again.</source>
        <translation>Le téléchargement a échoué. Vérifiez la connexion et réessayez.</translation>
    </message>
    <message>
        <source>The downloaded installer is damaged. Try again later.</source>
        <translation>Le programme d&apos;installation téléchargé est endommagé. Réessayez plus tard.</translation>
    </message>
    <message>
        <source>The installer could not be verified, so it was not run.</source>
        <translation>Le programme d&apos;installation n&apos;a pas pu être vérifié ; il n&apos;a donc pas été exécuté.</translation>
    </message>
    <message>
        <source>The installer is for another product, so it was not run.</source>
        <translation>Le programme d&apos;installation concerne un autre produit ; il n&apos;a donc pas été exécuté.</translation>
    </message>
    <message>
        <source>The installation did not complete.</source>
        <translation>L&apos;installation n&apos;a pas abouti.</translation>
    </message>
    <message>
        <source>The product is not installed.</source>
        <translation>Le produit n&apos;est pas installé.</translation>
    </message>
    <message>
        <source>The product could not be removed.</source>
        <translation>Le produit n&apos;a pas pu être supprimé.</translation>
    </message>
    <message>
        <source>The operation failed.</source>
        <translation>L&apos;opération a échoué.</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Product display language:</source>
        <translation>Langue d&apos;affichage des produits :</translation>
    </message>
    <message>
        <source>Kivo Manager Menu</source>
        <translation>Menu de Kivo Manager</translation>
    </message>
    <message>
        <source>Solvane Manager settings</source>
        <translation>Paramètres de Solvane Manager</translation>
    </message>
</context>
<context>
    <name>UpdateDialog</name>
    <message>
        <source>Software Update</source>
        <translation>Mise à jour du logiciel</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Télécharger</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
    <message>
        <source>Checking for updates...</source>
        <translation>Recherche de mises à jour...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>A new version of %1 is available.</source>
        <translation>Une nouvelle version de %1 est disponible.</translation>
    </message>
    <message>
        <source>%1 %2 is available; you have %3.</source>
        <translation>%1 %2 est disponible ; vous avez la version %3.</translation>
    </message>
    <message>
        <source>Remind Me Later</source>
        <translation>Me le rappeler plus tard</translation>
    </message>
    <message>
        <source>The update check failed.</source>
        <translation>La recherche de mises à jour a échoué.</translation>
    </message>
    <message>
        <source>You&apos;re up to date.</source>
        <translation>Vous êtes à jour.</translation>
    </message>
    <message>
        <source>%1 %2 is the newest version available.</source>
        <translation>%1 %2 est la dernière version disponible.</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Command to run: checkupdate, uploadevents, show, install or quit.</source>
        <translation>Commande à exécuter : checkupdate, uploadevents, show, install ou quit.</translation>
    </message>
    <message>
        <source>Product ID</source>
        <translation>Identifiant du produit</translation>
    </message>
</context>
</TS>
