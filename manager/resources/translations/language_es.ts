<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es_ES">
<context>
    <name>AppEnvironment</name>
    <message>
        <source>Favorites</source>
        <translation>Favoritos</translation>
    </message>
    <message>
        <source>Imported Presets</source>
        <translation>Ajustes preestablecidos importados</translation>
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
        <translation>Actualizar</translation>
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
        <translation>Actualizando...</translation>
    </message>
    <message>
        <source>offline, click to re-connect</source>
        <translation>sin conexión, haga clic para volver a conectar</translation>
    </message>
</context>
<context>
    <name>ProductWidget</name>
    <message>
        <source>Buy Now</source>
        <translation>Comprar ahora</translation>
    </message>
    <message>
        <source>Learn more...</source>
        <translation>Más información...</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>Descargando...</translation>
    </message>
    <message>
        <source>v%1
up to date</source>
        <translation>v%1
actualizado</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Product display language:</source>
        <translation>Idioma de visualización de los productos:</translation>
    </message>
    <message>
        <source>Kivo Manager Menu</source>
        <translation>Menú de Kivo Manager</translation>
    </message>
    <message>
        <source>Solvane Manager settings</source>
        <translation>Configuración de Solvane Manager</translation>
    </message>
</context>
</TS>
