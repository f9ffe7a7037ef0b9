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
    <name>MainWindow</name>
    <message>
        <source>Solvane Manager</source>
        <translation>Solvane Manager</translation>
    </message>
    <message>
        <source>offline, click to re-connect</source>
        <translation>нет подключения, нажмите, чтобы подключиться снова</translation>
    </message>
    <message>
        <source>Updating...</source>
        <translation>Обновление...</translation>
    </message>
    <message>
        <source>A new version of the Kivo Manager is available.  Click to update.</source>
        <translation>Доступна новая версия Kivo Manager.  Нажмите, чтобы обновить.</translation>
    </message>
    <message>
        <source>A new version of Solvane Manager is available.  Click to update.</source>
        <translation>Доступна новая версия Solvane Manager.  Нажмите, чтобы обновить.</translation>
    </message>
    <message>
        <source>Your applications, plug-ins, workflows, and signature editions:</source>
        <translation>Ваши приложения, плагины, рабочие процессы и выпуски Signature:</translation>
    </message>
    <message>
        <source>Your applications and plug-ins:</source>
        <translation>Ваши приложения и плагины:</translation>
    </message>
    <message>
        <source>Tools you might love:</source>
        <translation>Инструменты, которые могут вам понравиться:</translation>
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
    <name>ProductWidget</name>
    <message>
        <source>Form</source>
        <translation>Форма</translation>
    </message>
    <message>
        <source>ProductWidget</source>
        <translation>Карточка продукта</translation>
    </message>
    <message>
        <source>ProductWidget/groupBox</source>
        <translation>Карточка продукта/группа</translation>
    </message>
    <message>
        <source>Icon</source>
        <translation>Значок</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Название</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>Описание</translation>
    </message>
    <message>
        <source>Buy Now</source>
        <translation>Купить</translation>
    </message>
    <message>
        <source>Learn more...</source>
        <translation>Подробнее...</translation>
    </message>
    <message>
        <source>v%1
up to date</source>
        <translation>v%1
актуальная версия</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>Загрузка...</translation>
    </message>
    <message>
        <source>The download failed. Check the connection and try again.</source>
        <translation>Не удалось выполнить загрузку. Проверьте подключение и повторите попытку.</translation>
    </message>
    <message>
        <source>The downloaded installer is damaged. Try again later.</source>
        <translation>Загруженный установщик повреждён. Повторите попытку позже.</translation>
    </message>
    <message>
        <source>The installer could not be verified, so it was not run.</source>
        <translation>Не удалось проверить установщик, поэтому он не был запущен.</translation>
    </message>
    <message>
        <source>The installer is for another product, so it was not run.</source>
        <translation>Установщик предназначен для другого продукта, поэтому он не был запущен.</translation>
    </message>
    <message>
        <source>The installation did not complete.</source>
        <translation>Установка не завершена.</translation>
    </message>
    <message>
        <source>The product is not installed.</source>
        <translation>Продукт не установлен.</translation>
    </message>
    <message>
        <source>The product could not be removed.</source>
        <translation>Не удалось удалить продукт.</translation>
    </message>
    <message>
        <source>The operation failed.</source>
        <translation>Не удалось выполнить операцию.</translation>
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
<context>
    <name>UpdateDialog</name>
    <message>
        <source>Software Update</source>
        <translation>Обновление программы</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Загрузить</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
    <message>
        <source>Checking for updates...</source>
        <translation>Поиск обновлений...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>A new version of %1 is available.</source>
        <translation>Доступна новая версия %1.</translation>
    </message>
    <message>
        <source>%1 %2 is available; you have %3.</source>
        <translation>Доступна версия %1 %2; у вас установлена версия %3.</translation>
    </message>
    <message>
        <source>Remind Me Later</source>
        <translation>Напомнить позже</translation>
    </message>
    <message>
        <source>The update check failed.</source>
        <translation>Не удалось проверить наличие обновлений.</translation>
    </message>
    <message>
        <source>You&apos;re up to date.</source>
        <translation>У вас установлена последняя версия.</translation>
    </message>
    <message>
        <source>%1 %2 is the newest version available.</source>
        <translation>%1 %2 — последняя доступная версия.</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Command to run: checkupdate, uploadevents, show, install or quit.</source>
        <translation>Команда для выполнения: checkupdate, uploadevents, show, install или quit.</translation>
    </message>
    <message>
        <source>Product ID</source>
        <translation>Идентификатор продукта</translation>
    </message>
</context>
</TS>
