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
    <name>MainWindow</name>
    <message>
        <source>Solvane Manager</source>
        <translation>Solvane Manager</translation>
    </message>
    <message>
        <source>offline, click to re-connect</source>
        <translation>오프라인입니다. 클릭하여 다시 연결</translation>
    </message>
    <message>
        <source>Updating...</source>
        <translation>업데이트 중...</translation>
    </message>
    <message>
        <source>A new version of the Kivo Manager is available.  Click to update.</source>
        <translation>Kivo Manager의 새 버전을 사용할 수 있습니다.  클릭하여 업데이트하세요.</translation>
    </message>
    <message>
        <source>A new version of Solvane Manager is available.  Click to update.</source>
        <translation>Solvane Manager의 새 버전을 사용할 수 있습니다.  클릭하여 업데이트하세요.</translation>
    </message>
    <message>
        <source>Your applications, plug-ins, workflows, and signature editions:</source>
        <translation>내 애플리케이션, 플러그인, 워크플로 및 시그니처 에디션:</translation>
    </message>
    <message>
        <source>Your applications and plug-ins:</source>
        <translation>내 애플리케이션 및 플러그인:</translation>
    </message>
    <message>
        <source>Tools you might love:</source>
        <translation>마음에 드실 만한 도구:</translation>
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
    <name>ProductWidget</name>
    <message>
        <source>Form</source>
        <translation>양식</translation>
    </message>
    <message>
        <source>ProductWidget</source>
        <translation>제품 카드</translation>
    </message>
    <message>
        <source>ProductWidget/groupBox</source>
        <translation>제품 카드/그룹</translation>
    </message>
    <message>
        <source>Icon</source>
        <translation>아이콘</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>이름</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>설명</translation>
    </message>
    <message>
        <source>Buy Now</source>
        <translation>지금 구매</translation>
    </message>
    <message>
        <source>Learn more...</source>
        <translation>자세히 알아보기...</translation>
    </message>
    <message>
        <source>v%1
up to date</source>
        <translation>v%1
최신 버전</translation>
    </message>
    <message>
        <source>Downloading...</source>
        <translation>다운로드 중...</translation>
    </message>
    <message>
        <source>The download failed. Check the connection and try again.</source>
        <translation>다운로드하지 못했습니다. 연결을 확인한 후 다시 시도하세요.</translation>
    </message>
    <message>
        <source>The downloaded installer is damaged. Try again later.</source>
        <translation>다운로드한 설치 프로그램이 손상되었습니다. 나중에 다시 시도하세요.</translation>
    </message>
    <message>
        <source>The installer could not be verified, so it was not run.</source>
        <translation>설치 프로그램을 확인할 수 없어 실행하지 않았습니다.</translation>
    </message>
    <message>
        <source>The installer is for another product, so it was not run.</source>
        <translation>다른 제품의 설치 프로그램이어서 실행하지 않았습니다.</translation>
    </message>
    <message>
        <source>The installation did not complete.</source>
        <translation>설치를 완료하지 못했습니다.</translation>
    </message>
    <message>
        <source>The product is not installed.</source>
        <translation>제품이 설치되어 있지 않습니다.</translation>
    </message>
    <message>
        <source>The product could not be removed.</source>
        <translation>제품을 제거하지 못했습니다.</translation>
    </message>
    <message>
        <source>The operation failed.</source>
        <translation>작업을 수행하지 못했습니다.</translation>
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
<context>
    <name>UpdateDialog</name>
    <message>
        <source>Software Update</source>
        <translation>소프트웨어 업데이트</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>다운로드</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>닫기</translation>
    </message>
    <message>
        <source>Checking for updates...</source>
        <translation>업데이트 확인 중...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>취소</translation>
    </message>
    <message>
        <source>A new version of %1 is available.</source>
        <translation>%1의 새 버전을 사용할 수 있습니다.</translation>
    </message>
    <message>
        <source>%1 %2 is available; you have %3.</source>
        <translation>%1 %2을(를) 사용할 수 있습니다. 현재 버전은 %3입니다.</translation>
    </message>
    <message>
        <source>Remind Me Later</source>
        <translation>나중에 알림</translation>
    </message>
    <message>
        <source>The update check failed.</source>
        <translation>업데이트를 확인하지 못했습니다.</translation>
    </message>
    <message>
        <source>You&apos;re up to date.</source>
        <translation>최신 버전을 사용하고 있습니다.</translation>
    </message>
    <message>
        <source>%1 %2 is the newest version available.</source>
        <translation>%1 %2은(는) 사용 가능한 최신 버전입니다.</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Command to run: checkupdate, uploadevents, show, install or quit.</source>
        <translation>실행할 명령: checkupdate, uploadevents, show, install 또는 quit</translation>
    </message>
    <message>
        <source>Product ID</source>
        <translation>제품 ID</translation>
    </message>
</context>
</TS>
