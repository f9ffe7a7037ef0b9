<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>AppEnvironment</name>
    <message>
        <source>Favorites</source>
        <translation>お気に入り</translation>
    </message>
    <message>
        <source>Imported Presets</source>
        <translation>読み込んだプリセット</translation>
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
        <translation>オフラインです。クリックして再接続</translation>
    </message>
    <message>
        <source>Updating...</source>
        <translation>更新中...</translation>
    </message>
    <message>
        <source>A new version of the Kivo Manager is available.  Click to update.</source>
        <translation>Kivo Manager の新しいバージョンがあります。クリックして更新してください。</translation>
    </message>
    <message>
        <source>A new version of Solvane Manager is available.  Click to update.</source>
        <translation>Solvane Manager の新しいバージョンがあります。クリックして更新してください。</translation>
    </message>
    <message>
        <source>Your applications, plug-ins, workflows, and signature editions:</source>
        <translation>お使いのアプリケーション、プラグイン、ワークフロー、シグネチャーエディション:</translation>
    </message>
    <message>
        <source>Your applications and plug-ins:</source>
        <translation>お使いのアプリケーションとプラグイン:</translation>
    </message>
    <message>
        <source>Tools you might love:</source>
        <translation>おすすめのツール:</translation>
    </message>
</context>
<context>
    <name>Product</name>
    <message>
        <source>Install</source>
        <translation>インストール</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>開く</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>更新</translation>
    </message>
    <message>
        <source>Uninstall</source>
        <translation>アンインストール</translation>
    </message>
</context>
<context>
    <name>ProductWidget</name>
    <message>
        <source>Form</source>
        <translation>フォーム</translation>
    </message>
    <message>
        <source>ProductWidget</source>
        <translation>製品カード</translation>
    </message>
    <message>
        <source>ProductWidget/groupBox</source>
        <translation>製品カード/グループ</translation>
    </message>
    <message>
        <source>Icon</source>
        <translation>アイコン</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>名前</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>説明</translation>
    </message>
    <message>
        <source>Buy Now</source>
        <translation>今すぐ購入</translation>
    </message>
    <message>
        <source>Learn more...</source>
        <translation>詳しく見る...</translation>
    </message>
    <message>
        <source>v%1
up to date</source>
        <translation>v%1
最新版</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>ダウンロード中...</translation>
    </message>
    <message>
        <source>The download failed. Check the connection and try again.</source>
        <translation>ダウンロードに失敗しました。接続を確認して、もう一度お試しください。</translation>
    </message>
    <message>
        <source>The downloaded installer is damaged. Try again later.</source>
        <translation>ダウンロードしたインストーラーが破損しています。しばらくしてからもう一度お試しください。</translation>
    </message>
    <message>
        <source>The installer could not be verified, so it was not run.</source>
        <translation>インストーラーを検証できなかったため、実行しませんでした。</translation>
    </message>
    <message>
        <source>The installer is for another product, so it was not run.</source>
        <translation>インストーラーが別の製品のものであるため、実行しませんでした。</translation>
    </message>
    <message>
        <source>The installation did not complete.</source>
        <translation>インストールを完了できませんでした。</translation>
    </message>
    <message>
        <source>The product is not installed.</source>
        <translation>この製品はインストールされていません。</translation>
    </message>
    <message>
        <source>The product could not be removed.</source>
        <translation>製品を削除できませんでした。</translation>
    </message>
    <message>
        <source>The operation failed.</source>
        <translation>操作に失敗しました。</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Product display language:</source>
        <translation>製品の表示言語:</translation>
    </message>
    <message>
        <source>Kivo Manager Menu</source>
        <translation>Kivo Manager メニュー</translation>
    </message>
    <message>
        <source>Solvane Manager settings</source>
        <translation>Solvane Manager の設定</translation>
    </message>
</context>
<context>
    <name>UpdateDialog</name>
    <message>
        <source>Software Update</source>
        <translation>ソフトウェア アップデート</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>ダウンロード</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>Checking for updates...</source>
        <translation>アップデートを確認しています...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>A new version of %1 is available.</source>
        <translation>%1 の新しいバージョンがあります。</translation>
    </message>
    <message>
        <source>%1 %2 is available; you have %3.</source>
        <translation>%1 %2 を利用できます (現在のバージョン: %3)。</translation>
    </message>
    <message>
        <source>Remind Me Later</source>
        <translation>後で通知</translation>
    </message>
    <message>
        <source>The update check failed.</source>
        <translation>アップデートの確認に失敗しました。</translation>
    </message>
    <message>
        <source>You&apos;re up to date.</source>
        <translation>最新の状態です。</translation>
    </message>
    <message>
        <source>%1 %2 is the newest version available.</source>
        <translation>%1 %2 は利用可能な最新バージョンです。</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Command to run: checkupdate, uploadevents, show, install or quit.</source>
        <translation>実行するコマンド: checkupdate、uploadevents、show、install、quit のいずれか。</translation>
    </message>
    <message>
        <source>Product ID</source>
        <translation>製品 ID</translation>
    </message>
</context>
</TS>
