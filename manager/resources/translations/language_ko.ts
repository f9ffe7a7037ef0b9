<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ko_KR">
<context>
    <name>AppEnvironment</name>
    <message>
        <source>Favorites</source>
        <translation>즐겨찾기</translation>
    </message>
    <message>
        <source>Imported Presets</source>
        <translation>가져온 프리셋</translation>
    </message>
</context>
<context>
    <name>Product</name>
    <message>
        <source>Install</source>
        <translation>설치</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>열기</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>업데이트</translation>
    </message>
    <message>
        <source>Uninstall</source>
        <translation>제거</translation>
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
        <translation>업데이트 중...</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Product display language:</source>
        <translation>제품 표시 언어:</translation>
    </message>
    <message>
        <source>Kivo Manager Menu</source>
        <translation>Kivo Manager 메뉴</translation>
    </message>
    <message>
        <source>Solvane Manager settings</source>
        <translation>Solvane Manager 설정</translation>
    </message>
</context>
</TS>
