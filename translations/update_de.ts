<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Configuration</name>
    <message>
        <location filename="../src/shell/configuration.cpp" line="+117"/>
        <source>No client type specified</source>
        <translation>Kein Client-Typ angegeben</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>No client version specified</source>
        <translation>Keine Client-Version angegeben</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Invalid version nr (%1)</source>
        <translation>Ungültige Versionsnummer (%1)</translation>
    </message>
    <message>
        <location line="+47"/>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Failed to query latest client
version from update server.</source>
        <translation>Die neueste Client-Version konnte
nicht vom Update-Server abgefragt werden.</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>Update server returned no version</source>
        <translation>Der Update-Server hat keine Version geliefert</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Update server returned invalid version nr (%1)</source>
        <translation>Der Update-Server hat eine ungültige Versionsnummer geliefert (%1)</translation>
    </message>
    <message>
        <location line="+23"/>
        <source>Unable to get temp directory.</source>
        <translation>Das temporäre Verzeichnis konnte nicht ermittelt werden.</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>Unable to create temp directory.</source>
        <translation>Das temporäre Verzeichnis konnte nicht angelegt werden.</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <location filename="../src/ui/mainwindow.ui" line="+14"/>
        <source>Quorvex 3 Client Update</source>
        <translation>Quorvex 3 Client-Aktualisierung</translation>
    </message>
    <message>
        <location line="+139"/>
        <source>Details</source>
        <translation>Details</translation>
    </message>
    <message>
        <location filename="../src/ui/mainwindow.cpp" line="+75"/>
        <source>&lt;small&gt;Quorvex update service &amp;middot; &lt;a href=&quot;%1&quot;&gt;Website&lt;/a&gt;&lt;/small&gt;</source>
        <translation>&lt;small&gt;Quorvex Aktualisierungsdienst &amp;middot; &lt;a href=&quot;%1&quot;&gt;Webseite&lt;/a&gt;&lt;/small&gt;</translation>
    </message>
    <message>
        <location line="+29"/>
        <source>Stable</source>
        <translation>Stabil</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Beta</source>
        <translation>Beta</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Alpha</source>
        <translation>Alpha</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Update to Quorvex %1</source>
        <translation>Aktualisierung auf Quorvex %1</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>You are currently on &lt;strong&gt;%1 channel&lt;/strong&gt;.</source>
        <translation>Sie nutzen derzeit den Kanal &lt;strong&gt;%1&lt;/strong&gt;.</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Step two: Updating Quorvex client</source>
        <translation>Schritt zwei: Der Quorvex-Client wird aktualisiert</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Step one: Updating updater</source>
        <translation>Schritt eins: Das Aktualisierungsprogramm wird aktualisiert</translation>
    </message>
    <message>
        <location line="+44"/>
        <location line="+5"/>
        <location line="+6"/>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <location line="+60"/>
        <source>Update cancelled</source>
        <translation>Aktualisierung abgebrochen</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Update</source>
        <translation>Aktualisierung</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Update cancelled. Push &quot;Details&quot; to check reasons.</source>
        <translation>Aktualisierung abgebrochen. Unter „Details“ finden Sie die Gründe.</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>Question</source>
        <translation>Frage</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>&lt;p&gt;Update in progress.&lt;/p&gt;&lt;p&gt;Are you sure you want to abort?&lt;/p&gt;</source>
        <translation>&lt;p&gt;Die Aktualisierung läuft.&lt;/p&gt;&lt;p&gt;Wollen Sie sie wirklich abbrechen?&lt;/p&gt;</translation>
    </message>
    <message>
        <location line="+23"/>
        <source>Confirm reboot</source>
        <translation>Neustart bestätigen</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>&lt;p&gt;A computer restart is required to proceed with the client update. If you do not reboot now, the Quorvex update will be cancelled.&lt;/p&gt;&lt;p&gt;Do you want to reboot now?&lt;/p&gt;</source>
        <translation>&lt;p&gt;Um die Client-Aktualisierung fortzusetzen, muss der Computer neu gestartet werden. Wenn Sie jetzt nicht neu starten, wird die Quorvex-Aktualisierung abgebrochen.&lt;/p&gt;&lt;p&gt;Wollen Sie jetzt neu starten?&lt;/p&gt;</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>Failed to store force update notice</source>
        <translation>Der Hinweis auf die erzwungene Aktualisierung konnte nicht gespeichert werden</translation>
    </message>
    <message>
        <location line="+34"/>
        <source>Click to open &quot;%1://%2&quot;</source>
        <translation>Klicken, um „%1://%2“ zu öffnen</translation>
    </message>
</context>
</TS>
