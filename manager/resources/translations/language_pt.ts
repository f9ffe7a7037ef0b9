<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pt_PT">
<context>
    <name>AppEnvironment</name>
    <message>
        <source>Favorites</source>
        <translation>Favoritos</translation>
    </message>
    <message>
        <source>Imported Presets</source>
        <translation>Predefinições importadas</translation>
    </message>
</context>
<context>
    <name>Product</name>
    <message>
        <source>Install</source>
        <translation>Instalar</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Abrir</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Atualizar</translation>
    </message>
    <message>
        <source>Uninstall</source>
        <translation>Desinstalar</translation>
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
        <translation>Atualizando...</translation>
    </message>
    <message>
        <source>offline, click to re-connect</source>
        <translation>offline, clique para reconectar</translation>
    </message>
</context>
<context>
    <name>ProductWidget</name>
    <message>
        <source>Buy Now</source>
        <translation>Comprar agora</translation>
    </message>
    <message>
        <source>Learn more...</source>
        <translation>Saiba mais...</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>Baixando...</translation>
    </message>
    <message>
        <source>v%1
up to date</source>
        <translation>v%1
atualizado</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Product display language:</source>
        <translation>Idioma de exibição dos produtos:</translation>
    </message>
    <message>
        <source>Kivo Manager Menu</source>
        <translation>Menu do Kivo Manager</translation>
    </message>
    <message>
        <source>Solvane Manager settings</source>
        <translation>Configurações do Solvane Manager</translation>
    </message>
</context>
</TS>
