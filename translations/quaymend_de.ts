<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>Quaymend</name>
    <message>
        <source>Click  </source>
        <translation>Klicken Sie auf  </translation>
    </message>
    <message>
        <source>Welcome</source>
        <translation>Willkommen</translation>
    </message>
    <message>
        <source>This software will install or update the USB device driver necessary to communicate with your AIS device and update the AIS device firmware to ensure optimum performance.</source>
        <translation>Dieses Programm installiert oder aktualisiert den USB-Gerätetreiber, den Ihr PC für die Verbindung mit Ihrem AIS-Gerät braucht, und bringt die Firmware des AIS-Geräts auf den neuesten Stand, damit es bestmöglich arbeitet.</translation>
    </message>
    <message>
        <source>It is recommended that all other applications are closed before proceeding.</source>
        <translation>Bitte schließen Sie vor dem Fortfahren alle anderen Programme.</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Starten</translation>
    </message>
    <message>
        <source>to proceed</source>
        <translation>zum Fortfahren</translation>
    </message>
    <message>
        <source>About Quaymend</source>
        <translation>Über Quaymend</translation>
    </message>
    <message>
        <source>Version </source>
        <translation>Version </translation>
    </message>
    <message>
        <source>This program uses the Qt toolkit, version %1.</source>
        <translation>Dieses Programm verwendet das Qt-Toolkit, Version %1.</translation>
    </message>
    <message>
        <source>Qt is provided under the GNU Lesser General Public License version 3 (LGPL 3).</source>
        <translation>Qt wird unter der GNU Lesser General Public License Version 3 (LGPL 3) bereitgestellt.</translation>
    </message>
    <message>
        <source>AIS Class B CS Transceiver</source>
        <translation>AIS-Transponder Klasse B CS</translation>
    </message>
    <message>
        <source>AIS Class B SO Transceiver</source>
        <translation>AIS-Transponder Klasse B SO</translation>
    </message>
    <message>
        <source>AIS Class B Transceiver</source>
        <translation>AIS-Transponder Klasse B</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>to exit.</source>
        <translation>zum Beenden.</translation>
    </message>
    <message>
        <source>Next...</source>
        <translation>Weiter...</translation>
    </message>
    <message>
        <source>to continue.</source>
        <translation>zum Fortfahren.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>to abort or </source>
        <translation>zum Beenden oder auf </translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Wiederholen</translation>
    </message>
    <message>
        <source>to try again.</source>
        <translation>für einen neuen Versuch.</translation>
    </message>
    <message>
        <source>This may take a few minutes. Windows may request confirmation to allow installation of the driver; you must allow installation to complete the update.</source>
        <translation>Dies kann einige Minuten dauern. Windows bittet eventuell um Erlaubnis, den Treiber zu installieren; erlauben Sie es, sonst kann das Update nicht abgeschlossen werden.</translation>
    </message>
    <message>
        <source>During the installation, you may be requested to restart your PC.  If this happens, do so then run Quaymend again to complete the process.</source>
        <translation>Eventuell verlangt die Installation einen Neustart des PCs.  Starten Sie danach Quaymend erneut, um das Update abzuschließen.</translation>
    </message>
    <message>
        <source> found</source>
        <translation> gefunden</translation>
    </message>
    <message>
        <source>Current version: </source>
        <translation>Aktuelle Version: </translation>
    </message>
    <message>
        <source>Update version: </source>
        <translation>Neue Version: </translation>
    </message>
    <message>
        <source>Disconnect AIS</source>
        <translation>AIS trennen</translation>
    </message>
    <message>
        <source>Disconnect all AIS devices from this PC before continuing.</source>
        <translation>Trennen Sie vor dem Fortfahren alle AIS-Geräte von diesem PC.</translation>
    </message>
    <message>
        <source>Installing USB driver</source>
        <translation>USB-Treiber installieren</translation>
    </message>
    <message>
        <source>Installing AIS USB driver</source>
        <translation>AIS-USB-Treiber wird installiert</translation>
    </message>
    <message>
        <source>AIS USB driver installed</source>
        <translation>AIS-USB-Treiber installiert</translation>
    </message>
    <message>
        <source>AIS USB driver install failed</source>
        <translation>AIS-USB-Treiber: Installation fehlgeschlagen</translation>
    </message>
    <message>
        <source>Contact your supplier for support.</source>
        <translation>Bitte wenden Sie sich an Ihren Händler.</translation>
    </message>
    <message>
        <source>Connect your AIS device</source>
        <translation>AIS-Gerät anschließen</translation>
    </message>
    <message>
        <source>Connect your AIS device to your PC via its USB cable.</source>
        <translation>Schließen Sie Ihr AIS-Gerät mit seinem USB-Kabel an Ihren PC an.</translation>
    </message>
    <message>
        <source>when you have connected your AIS.</source>
        <translation>nach dem Anschließen Ihres AIS-Geräts.</translation>
    </message>
    <message>
        <source>Detecting your AIS device</source>
        <translation>AIS-Gerät wird gesucht</translation>
    </message>
    <message>
        <source>Please wait...</source>
        <translation>Bitte warten...</translation>
    </message>
    <message>
        <source>Current version is up to date.</source>
        <translation>Die aktuelle Version ist auf dem neuesten Stand.</translation>
    </message>
    <message>
        <source>The connected AIS device will be updated.</source>
        <translation>Das angeschlossene AIS-Gerät wird aktualisiert.</translation>
    </message>
    <message>
        <source>to start AIS update.</source>
        <translation>zum Starten des AIS-Updates.</translation>
    </message>
    <message>
        <source>No update available for this device. Contact your supplier for support.</source>
        <translation>Für dieses Gerät ist kein Update verfügbar. Bitte wenden Sie sich an Ihren Händler.</translation>
    </message>
    <message>
        <source>No AIS device found</source>
        <translation>Kein AIS-Gerät gefunden</translation>
    </message>
    <message>
        <source>If the AIS device is connected, disconnect it before proceeding.</source>
        <translation>Falls das AIS-Gerät angeschlossen ist, trennen Sie es vor dem Fortfahren.</translation>
    </message>
    <message>
        <source>Updating AIS device</source>
        <translation>AIS-Gerät wird aktualisiert</translation>
    </message>
    <message>
        <source>Switching AIS to update mode...</source>
        <translation>AIS wird in den Update-Modus geschaltet...</translation>
    </message>
    <message>
        <source>Connecting to AIS in update mode...</source>
        <translation>Verbindung zum AIS im Update-Modus wird hergestellt...</translation>
    </message>
    <message>
        <source>Update in progress...</source>
        <translation>Update läuft...</translation>
    </message>
    <message>
        <source>IMPORTANT: Do not terminate Quaymend, disconnect or power down the AIS device during the update.</source>
        <translation>WICHTIG: Beenden Sie Quaymend während des Updates nicht, trennen Sie das AIS-Gerät nicht und schalten Sie es nicht aus.</translation>
    </message>
    <message>
        <source>Failed to connect for update</source>
        <translation>Keine Verbindung für das Update</translation>
    </message>
    <message>
        <source>It has not been possible to update your AIS.</source>
        <translation>Ihr AIS-Gerät konnte nicht aktualisiert werden.</translation>
    </message>
    <message>
        <source>You may retry, or contact your supplier for support.</source>
        <translation>Sie können es erneut versuchen oder sich an Ihren Händler wenden.</translation>
    </message>
    <message>
        <source>Update failed</source>
        <translation>Update fehlgeschlagen</translation>
    </message>
    <message>
        <source>Restarting connection...</source>
        <translation>Verbindung wird neu aufgebaut...</translation>
    </message>
    <message>
        <source>Update incomplete</source>
        <translation>Update unvollständig</translation>
    </message>
    <message>
        <source>Unable to access update port.</source>
        <translation>Kein Zugriff auf den Update-Anschluss.</translation>
    </message>
    <message>
        <source>Unable to access update file.</source>
        <translation>Kein Zugriff auf die Update-Datei.</translation>
    </message>
    <message>
        <source>Update complete</source>
        <translation>Update abgeschlossen</translation>
    </message>
    <message>
        <source>The update has completed successfully.</source>
        <translation>Das Update wurde erfolgreich abgeschlossen.</translation>
    </message>
    <message>
        <source>It is now safe to disconnect your AIS device from the PC.</source>
        <translation>Sie können Ihr AIS-Gerät jetzt sicher vom PC trennen.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; does not exist.</source>
        <translation>„%1“ gibt es nicht.</translation>
    </message>
    <message>
        <source>The folder &quot;%1&quot; cannot be read.</source>
        <translation>Der Ordner „%1“ lässt sich nicht lesen.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is neither an update file nor a folder.</source>
        <translation>„%1“ ist weder eine Update-Datei noch ein Ordner.</translation>
    </message>
    <message>
        <source>The update file &quot;%1&quot; cannot be read.</source>
        <translation>Die Update-Datei „%1“ lässt sich nicht lesen.</translation>
    </message>
    <message>
        <source>Your AIS device now runs version %1.</source>
        <translation>Ihr AIS-Gerät läuft jetzt mit Version %1.</translation>
    </message>
    <message>
        <source>Confirming the update...</source>
        <translation>Das Update wird bestätigt...</translation>
    </message>
    <message>
        <source>The AIS device is restarting with its new firmware. Do not disconnect or power it down yet.</source>
        <translation>Das AIS-Gerät startet mit der neuen Firmware neu. Trennen Sie es noch nicht und schalten Sie es nicht aus.</translation>
    </message>
    <message>
        <source>Update not confirmed</source>
        <translation>Update nicht bestätigt</translation>
    </message>
    <message>
        <source>Your AIS device reports version %1 instead of %2.</source>
        <translation>Ihr AIS-Gerät meldet Version %1 statt %2.</translation>
    </message>
    <message>
        <source>No answer from your AIS device</source>
        <translation>Keine Antwort von Ihrem AIS-Gerät</translation>
    </message>
    <message>
        <source>The update file was sent, but the AIS device has not reported back yet.</source>
        <translation>Die Update-Datei wurde gesendet, aber das AIS-Gerät hat sich noch nicht zurückgemeldet.</translation>
    </message>
    <message>
        <source>Do not disconnect or power down the AIS device yet.</source>
        <translation>Trennen Sie das AIS-Gerät noch nicht und schalten Sie es nicht aus.</translation>
    </message>
    <message>
        <source>to exit or </source>
        <translation>zum Beenden oder auf </translation>
    </message>
    <message>
        <source>to ask it again.</source>
        <translation>für eine neue Abfrage.</translation>
    </message>
    <message>
        <source>Update progress</source>
        <translation>Fortschritt der Aktualisierung</translation>
    </message>
</context>
<context>
    <name>UpdateWizard</name>
    <message>
        <source>Quaymend</source>
        <translation>Quaymend</translation>
    </message>
    <message>
        <source>Copy Log to Clipboard</source>
        <translation>Protokoll kopieren</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Wiederholen</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Starten</translation>
    </message>
</context>
</TS>
