<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>AppEnvironment</name>
    <message>
        <source>Favorites</source>
        <translation>Избранное</translation>
    </message>
    <message>
        <source>Imported Presets</source>
        <translation>Импортированные пресеты</translation>
    </message>
</context>
<context>
    <name>Product</name>
    <message>
        <source>Install</source>
        <translation>Установить</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Открыть</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Обновить</translation>
    </message>
    <message>
        <source>Uninstall</source>
        <translation>Удалить</translation>
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
        <translation>Обновление...</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Product display language:</source>
        <translation>Язык отображения продуктов:</translation>
    </message>
    <message>
        <source>Kivo Manager Menu</source>
        <translation>Меню Kivo Manager</translation>
    </message>
    <message>
        <source>Solvane Manager settings</source>
        <translation>Настройки Solvane Manager</translation>
    </message>
</context>
</TS>
