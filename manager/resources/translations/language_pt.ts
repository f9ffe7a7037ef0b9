<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pt_BR">
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
    <name>MainWindow</name>
    <message>
        <source>Solvane Manager</source>
        <translation>Solvane Manager</translation>
    </message>
    <message>
        <source>offline, click to re-connect</source>
        <translation>offline, clique para reconectar</translation>
    </message>
    <message>
        <source>Updating...</source>
        <translation>Atualizando...</translation>
    </message>
    <message>
        <source>A new version of the Kivo Manager is available.  Click to update.</source>
        <translation>Uma nova versão do Kivo Manager está disponível.  Clique para atualizar.</translation>
    </message>
    <message>
        <source>A new version of Solvane Manager is available.  Click to update.</source>
        <translation>Uma nova versão do Solvane Manager está disponível.  Clique para atualizar.</translation>
    </message>
    <message>
        <source>Your applications, plug-ins, workflows, and signature editions:</source>
        <translation>Seus aplicativos, plug-ins, fluxos de trabalho e edições Signature:</translation>
    </message>
    <message>
        <source>Your applications and plug-ins:</source>
        <translation>Seus aplicativos e plug-ins:</translation>
    </message>
    <message>
        <source>Tools you might love:</source>
        <translation>Ferramentas que você pode adorar:</translation>
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
    <name>ProductWidget</name>
    <message>
        <source>Form</source>
        <translation>Formulário</translation>
    </message>
    <message>
        <source>ProductWidget</source>
        <translation>Cartão do produto</translation>
    </message>
    <message>
        <source>ProductWidget/groupBox</source>
        <translation>Cartão do produto/grupo</translation>
    </message>
    <message>
        <source>Icon</source>
        <translation>Ícone</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Nome</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>Descrição</translation>
    </message>
    <message>
        <source>Buy Now</source>
        <translation>Comprar agora</translation>
    </message>
    <message>
        <source>Learn more...</source>
        <translation>Saiba mais...</translation>
    </message>
    <message>
        <source>v%1
up to date</source>
        <translation>v%1
atualizado</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>Baixando...</translation>
    </message>
    <message>
        <source>The download failed. Check the connection and try again.</source>
        <translation>O download falhou. Verifique a conexão e tente novamente.</translation>
    </message>
    <message>
        <source>The downloaded installer is damaged. Try again later.</source>
        <translation>O instalador baixado está danificado. Tente novamente mais tarde.</translation>
    </message>
    <message>
        <source>The installer could not be verified, so it was not run.</source>
        <translation>Não foi possível verificar o instalador; por isso, ele não foi executado.</translation>
    </message>
    <message>
        <source>The installer is for another product, so it was not run.</source>
        <translation>O instalador é de outro produto; por isso, ele não foi executado.</translation>
    </message>
    <message>
        <source>The installation did not complete.</source>
        <translation>A instalação não foi concluída.</translation>
    </message>
    <message>
        <source>The product is not installed.</source>
        <translation>O produto não está instalado.</translation>
    </message>
    <message>
        <source>The product could not be removed.</source>
        <translation>Não foi possível remover o produto.</translation>
    </message>
    <message>
        <source>The operation failed.</source>
        <translation>A operação falhou.</translation>
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
<context>
    <name>UpdateDialog</name>
    <message>
        <source>Software Update</source>
        <translation>Atualização de software</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Baixar</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fechar</translation>
    </message>
    <message>
        <source>Checking for updates...</source>
        <translation>Procurando atualizações...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>A new version of %1 is available.</source>
        <translation>Uma nova versão do %1 está disponível.</translation>
    </message>
    <message>
        <source>%1 %2 is available; you have %3.</source>
        <translation>%1 %2 está disponível; você tem a versão %3.</translation>
    </message>
    <message>
        <source>Remind Me Later</source>
        <translation>Lembrar mais tarde</translation>
    </message>
    <message>
        <source>The update check failed.</source>
        <translation>A verificação de atualizações falhou.</translation>
    </message>
    <message>
        <source>You&apos;re up to date.</source>
        <translation>Você tem a versão mais recente.</translation>
    </message>
    <message>
        <source>%1 %2 is the newest version available.</source>
        <translation>%1 %2 é a versão mais recente disponível.</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Command to run: checkupdate, uploadevents, show, install or quit.</source>
        <translation>Comando a executar: checkupdate, uploadevents, show, install ou quit.</translation>
    </message>
    <message>
        <source>Product ID</source>
        <translation>ID do produto</translation>
    </message>
</context>
</TS>
