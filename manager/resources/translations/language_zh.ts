<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>AppEnvironment</name>
    <message>
        <source>Favorites</source>
        <translation>收藏</translation>
    </message>
    <message>
        <source>Imported Presets</source>
        <translation>导入的预设</translation>
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
        <translation>离线，点击重新连接</translation>
    </message>
    <message>
        <source>Updating...</source>
        <translation>正在更新...</translation>
    </message>
    <message>
        <source>A new version of the Kivo Manager is available.  Click to update.</source>
        <translation>Kivo Manager 有新版本可用。点击即可更新。</translation>
    </message>
    <message>
        <source>A new version of Solvane Manager is available.  Click to update.</source>
        <translation>Solvane Manager 有新版本可用。点击即可更新。</translation>
    </message>
    <message>
        <source>Your applications, plug-ins, workflows, and signature editions:</source>
        <translation>您的应用程序、插件、工作流和签名版：</translation>
    </message>
    <message>
        <source>Your applications and plug-ins:</source>
        <translation>您的应用程序和插件：</translation>
    </message>
    <message>
        <source>Tools you might love:</source>
        <translation>您可能会喜欢的工具：</translation>
    </message>
</context>
<context>
    <name>Product</name>
    <message>
        <source>Install</source>
        <translation>安装</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>更新</translation>
    </message>
    <message>
        <source>Uninstall</source>
        <translation>卸载</translation>
    </message>
</context>
<context>
    <name>ProductWidget</name>
    <message>
        <source>Form</source>
        <translation>表单</translation>
    </message>
    <message>
        <source>ProductWidget</source>
        <translation>产品卡片</translation>
    </message>
    <message>
        <source>ProductWidget/groupBox</source>
        <translation>产品卡片/分组</translation>
    </message>
    <message>
        <source>Icon</source>
        <translation>图标</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>名称</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>描述</translation>
    </message>
    <message>
        <source>Buy Now</source>
        <translation>立即购买</translation>
    </message>
    <message>
        <source>Learn more...</source>
        <translation>了解更多...</translation>
    </message>
    <message>
        <source>v%1
up to date</source>
        <translation>v%1
已是最新</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>正在下载...</translation>
    </message>
    <message>
        <source>The download failed. Check the connection and try again.</source>
        <translation>下载失败。请检查网络连接后重试。</translation>
    </message>
    <message>
        <source>The downloaded installer is damaged. Try again later.</source>
        <translation>下载的安装程序已损坏。请稍后重试。</translation>
    </message>
    <message>
        <source>The installer could not be verified, so it was not run.</source>
        <translation>无法验证安装程序，因此未运行。</translation>
    </message>
    <message>
        <source>The installer is for another product, so it was not run.</source>
        <translation>该安装程序属于其他产品，因此未运行。</translation>
    </message>
    <message>
        <source>The installation did not complete.</source>
        <translation>安装未完成。</translation>
    </message>
    <message>
        <source>The product is not installed.</source>
        <translation>该产品尚未安装。</translation>
    </message>
    <message>
        <source>The product could not be removed.</source>
        <translation>无法移除该产品。</translation>
    </message>
    <message>
        <source>The operation failed.</source>
        <translation>操作失败。</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Product display language:</source>
        <translation>产品显示语言：</translation>
    </message>
    <message>
        <source>Kivo Manager Menu</source>
        <translation>Kivo Manager 菜单</translation>
    </message>
    <message>
        <source>Solvane Manager settings</source>
        <translation>Solvane Manager 设置</translation>
    </message>
</context>
<context>
    <name>UpdateDialog</name>
    <message>
        <source>Software Update</source>
        <translation>软件更新</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>下载</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Checking for updates...</source>
        <translation>正在检查更新...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>A new version of %1 is available.</source>
        <translation>%1 有新版本可用。</translation>
    </message>
    <message>
        <source>%1 %2 is available; you have %3.</source>
        <translation>%1 %2 已发布；您当前的版本是 %3。</translation>
    </message>
    <message>
        <source>Remind Me Later</source>
        <translation>稍后提醒我</translation>
    </message>
    <message>
        <source>The update check failed.</source>
        <translation>检查更新失败。</translation>
    </message>
    <message>
        <source>You&apos;re up to date.</source>
        <translation>您使用的已是最新版本。</translation>
    </message>
    <message>
        <source>%1 %2 is the newest version available.</source>
        <translation>%1 %2 是目前可用的最新版本。</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Command to run: checkupdate, uploadevents, show, install or quit.</source>
        <translation>要运行的命令：checkupdate、uploadevents、show、install 或 quit。</translation>
    </message>
    <message>
        <source>Product ID</source>
        <translation>产品 ID</translation>
    </message>
</context>
</TS>
