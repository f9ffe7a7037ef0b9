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
    <name>MainWindow</name>
    <message>
        <source>Solvane Manager</source>
        <translation>Solvane Manager</translation>
    </message>
    <message>
        <source>offline, click to re-connect</source>
        <translation>sin conexión, haga clic para volver a conectar</translation>
    </message>
    <message>
        <source>Updating...</source>
        <translation>Actualizando...</translation>
    </message>
    <message>
        <source>A new version of the Kivo Manager is available.  Click to update.</source>
        <translation>Hay una nueva versión de Kivo Manager disponible.  Haga clic para actualizar.</translation>
    </message>
    <message>
        <source>A new version of Solvane Manager is available.  Click to update.</source>
        <translation>Hay una nueva versión de Solvane Manager disponible.  Haga clic para actualizar.</translation>
    </message>
    <message>
        <source>Your applications, plug-ins, workflows, and signature editions:</source>
        <translation>Sus aplicaciones, complementos, flujos de trabajo y ediciones Signature:</translation>
    </message>
    <message>
        <source>Your applications and plug-ins:</source>
        <translation>Sus aplicaciones y complementos:</translation>
    </message>
    <message>
        <source>Tools you might love:</source>
        <translation>Herramientas que le pueden encantar:</translation>
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
    <name>ProductWidget</name>
    <message>
        <source>Form</source>
        <translation>Formulario</translation>
    </message>
    <message>
        <source>ProductWidget</source>
        <translation>Tarjeta de producto</translation>
    </message>
    <message>
        <source>ProductWidget/groupBox</source>
        <translation>Tarjeta de producto/grupo</translation>
    </message>
    <message>
        <source>Icon</source>
        <translation>Icono</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Nombre</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>Descripción</translation>
    </message>
    <message>
        <source>Buy Now</source>
        <translation>Comprar ahora</translation>
    </message>
    <message>
        <source>Learn more...</source>
        <translation>Más información...</translation>
    </message>
    <message>
        <source>v%1
up to date</source>
        <translation>v%1
actualizado</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>Descargando...</translation>
    </message>
    <message>
        <source>The download failed. Check the connection and try again.</source>
        <translation>La descarga ha fallado. Compruebe la conexión e inténtelo de nuevo.</translation>
    </message>
    <message>
        <source>The downloaded installer is damaged. Try again later.</source>
        <translation>El instalador descargado está dañado. Inténtelo de nuevo más tarde.</translation>
    </message>
    <message>
        <source>The installer could not be verified, so it was not run.</source>
        <translation>No se ha podido verificar el instalador, por lo que no se ha ejecutado.</translation>
    </message>
    <message>
        <source>The installer is for another product, so it was not run.</source>
        <translation>El instalador corresponde a otro producto, por lo que no se ha ejecutado.</translation>
    </message>
    <message>
        <source>The installation did not complete.</source>
        <translation>La instalación no se ha completado.</translation>
    </message>
    <message>
        <source>The product is not installed.</source>
        <translation>El producto no está instalado.</translation>
    </message>
    <message>
        <source>The product could not be removed.</source>
        <translation>No se ha podido quitar el producto.</translation>
    </message>
    <message>
        <source>The operation failed.</source>
        <translation>La operación ha fallado.</translation>
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
<context>
    <name>UpdateDialog</name>
    <message>
        <source>Software Update</source>
        <translation>Actualización de software</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Descargar</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
    <message>
        <source>Checking for updates...</source>
        <translation>Buscando actualizaciones...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>A new version of %1 is available.</source>
        <translation>Hay una nueva versión de %1 disponible.</translation>
    </message>
    <message>
        <source>%1 %2 is available; you have %3.</source>
        <translation>%1 %2 está disponible; tiene la versión %3.</translation>
    </message>
    <message>
        <source>Remind Me Later</source>
        <translation>Recordármelo más tarde</translation>
    </message>
    <message>
        <source>The update check failed.</source>
        <translation>No se han podido buscar actualizaciones.</translation>
    </message>
    <message>
        <source>You&apos;re up to date.</source>
        <translation>Tiene la versión más reciente.</translation>
    </message>
    <message>
        <source>%1 %2 is the newest version available.</source>
        <translation>%1 %2 es la versión más reciente disponible.</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Command to run: checkupdate, uploadevents, show, install or quit.</source>
        <translation>Comando que se ejecutará: checkupdate, uploadevents, show, install o quit.</translation>
    </message>
    <message>
        <source>Product ID</source>
        <translation>ID del producto</translation>
    </message>
</context>
</TS>
