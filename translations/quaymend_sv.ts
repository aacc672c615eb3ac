<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="sv">
<context>
    <name>Quaymend</name>
    <message>
        <source>&quot;%1&quot; does not exist.</source>
        <translation>&quot;%1&quot; finns inte.</translation>
    </message>
    <message>
        <source>The folder &quot;%1&quot; cannot be read.</source>
        <translation>Mappen &quot;%1&quot; kan inte läsas.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is neither an update file nor a folder.</source>
        <translation>&quot;%1&quot; är varken en uppdateringsfil eller en mapp.</translation>
    </message>
    <message>
        <source>The update file &quot;%1&quot; cannot be read.</source>
        <translation>Uppdateringsfilen &quot;%1&quot; kan inte läsas.</translation>
    </message>
    <message>
        <source>Click  </source>
        <translation>Klicka på  </translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Stäng</translation>
    </message>
    <message>
        <source>to exit.</source>
        <translation>för att avsluta.</translation>
    </message>
    <message>
        <source>Next...</source>
        <translation>Nästa...</translation>
    </message>
    <message>
        <source>to continue.</source>
        <translation>för att fortsätta.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Avbryt</translation>
    </message>
    <message>
        <source>to abort or </source>
        <translation>för att avbryta eller på </translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Försök igen</translation>
    </message>
    <message>
        <source>to try again.</source>
        <translation>för ett nytt försök.</translation>
    </message>
    <message>
        <source>This may take a few minutes. Windows may request confirmation to allow installation of the driver; you must allow installation to complete the update.</source>
        <translation>Det här kan ta några minuter. Windows kan be dig bekräfta installationen av drivrutinen; du måste tillåta den för att uppdateringen ska kunna slutföras.</translation>
    </message>
    <message>
        <source>During the installation, you may be requested to restart your PC.  If this happens, do so then run Quaymend again to complete the process.</source>
        <translation>Under installationen kan du bli ombedd att starta om datorn.  Gör i så fall det och kör sedan Quaymend igen för att slutföra uppdateringen.</translation>
    </message>
    <message>
        <source> found</source>
        <translation> hittad</translation>
    </message>
    <message>
        <source>Current version: </source>
        <translation>Nuvarande version: </translation>
    </message>
    <message>
        <source>Update version: </source>
        <translation>Ny version: </translation>
    </message>
    <message>
        <source>Welcome</source>
        <translation>Välkommen</translation>
    </message>
    <message>
        <source>This software will install or update the USB device driver necessary to communicate with your AIS device and update the AIS device firmware to ensure optimum performance.</source>
        <translation>Det här programmet installerar eller uppdaterar den USB-drivrutin som behövs för att kommunicera med din AIS-enhet och uppdaterar AIS-enhetens firmware för bästa möjliga funktion.</translation>
    </message>
    <message>
        <source>It is recommended that all other applications are closed before proceeding.</source>
        <translation>Vi rekommenderar att du stänger alla andra program innan du fortsätter.</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Starta</translation>
    </message>
    <message>
        <source>to proceed</source>
        <translation>för att fortsätta</translation>
    </message>
    <message>
        <source>Disconnect AIS</source>
        <translation>Koppla bort AIS</translation>
    </message>
    <message>
        <source>Disconnect all AIS devices from this PC before continuing.</source>
        <translation>Koppla bort alla AIS-enheter från den här datorn innan du fortsätter.</translation>
    </message>
    <message>
        <source>Installing USB driver</source>
        <translation>Installera USB-drivrutin</translation>
    </message>
    <message>
        <source>Installing AIS USB driver</source>
        <translation>AIS-enhetens USB-drivrutin installeras</translation>
    </message>
    <message>
        <source>AIS USB driver installed</source>
        <translation>AIS-enhetens USB-drivrutin är installerad</translation>
    </message>
    <message>
        <source>AIS USB driver install failed</source>
        <translation>Installationen av AIS-enhetens USB-drivrutin misslyckades</translation>
    </message>
    <message>
        <source>Contact your supplier for support.</source>
        <translation>Kontakta din återförsäljare för support.</translation>
    </message>
    <message>
        <source>Connect your AIS device</source>
        <translation>Anslut din AIS-enhet</translation>
    </message>
    <message>
        <source>Connect your AIS device to your PC via its USB cable.</source>
        <translation>Anslut din AIS-enhet till datorn med dess USB-kabel.</translation>
    </message>
    <message>
        <source>when you have connected your AIS.</source>
        <translation>när du har anslutit din AIS.</translation>
    </message>
    <message>
        <source>Detecting your AIS device</source>
        <translation>Söker efter din AIS-enhet</translation>
    </message>
    <message>
        <source>Please wait...</source>
        <translation>Vänta...</translation>
    </message>
    <message>
        <source>Current version is up to date.</source>
        <translation>Den nuvarande versionen är den senaste.</translation>
    </message>
    <message>
        <source>The connected AIS device will be updated.</source>
        <translation>Den anslutna AIS-enheten kommer att uppdateras.</translation>
    </message>
    <message>
        <source>to start AIS update.</source>
        <translation>för att starta uppdateringen av AIS-enheten.</translation>
    </message>
    <message>
        <source>No update available for this device. Contact your supplier for support.</source>
        <translation>Det finns ingen uppdatering för den här enheten. Kontakta din återförsäljare för support.</translation>
    </message>
    <message>
        <source>No AIS device found</source>
        <translation>Ingen AIS-enhet hittades</translation>
    </message>
    <message>
        <source>If the AIS device is connected, disconnect it before proceeding.</source>
        <translation>Om AIS-enheten är ansluten ska du koppla bort den innan du fortsätter.</translation>
    </message>
    <message>
        <source>Updating AIS device</source>
        <translation>AIS-enheten uppdateras</translation>
    </message>
    <message>
        <source>Switching AIS to update mode...</source>
        <translation>AIS-enheten växlar till uppdateringsläge...</translation>
    </message>
    <message>
        <source>Connecting to AIS in update mode...</source>
        <translation>Ansluter till AIS-enheten i uppdateringsläge...</translation>
    </message>
    <message>
        <source>Update in progress...</source>
        <translation>Uppdatering pågår...</translation>
    </message>
    <message>
        <source>IMPORTANT: Do not terminate Quaymend, disconnect or power down the AIS device during the update.</source>
        <translation>VIKTIGT: Avsluta inte Quaymend och koppla inte bort eller stäng av AIS-enheten under uppdateringen.</translation>
    </message>
    <message>
        <source>Failed to connect for update</source>
        <translation>Det gick inte att ansluta för uppdatering</translation>
    </message>
    <message>
        <source>It has not been possible to update your AIS.</source>
        <translation>Det gick inte att uppdatera din AIS.</translation>
    </message>
    <message>
        <source>You may retry, or contact your supplier for support.</source>
        <translation>Du kan försöka igen eller kontakta din återförsäljare för support.</translation>
    </message>
    <message>
        <source>Update failed</source>
        <translation>Uppdateringen misslyckades</translation>
    </message>
    <message>
        <source>Restarting connection...</source>
        <translation>Startar om anslutningen...</translation>
    </message>
    <message>
        <source>Update incomplete</source>
        <translation>Uppdateringen är ofullständig</translation>
    </message>
    <message>
        <source>Unable to access update port.</source>
        <translation>Det går inte att komma åt uppdateringsporten.</translation>
    </message>
    <message>
        <source>Unable to access update file.</source>
        <translation>Det går inte att komma åt uppdateringsfilen.</translation>
    </message>
    <message>
        <source>Update complete</source>
        <translation>Uppdateringen är klar</translation>
    </message>
    <message>
        <source>The update has completed successfully.</source>
        <translation>Uppdateringen har slutförts.</translation>
    </message>
    <message>
        <source>It is now safe to disconnect your AIS device from the PC.</source>
        <translation>Nu kan du koppla bort din AIS-enhet från datorn på ett säkert sätt.</translation>
    </message>
    <message>
        <source>Your AIS device now runs version %1.</source>
        <translation>Din AIS-enhet kör nu version %1.</translation>
    </message>
    <message>
        <source>Confirming the update...</source>
        <translation>Uppdateringen bekräftas...</translation>
    </message>
    <message>
        <source>The AIS device is restarting with its new firmware. Do not disconnect or power it down yet.</source>
        <translation>AIS-enheten startar om med sin nya firmware. Koppla inte bort eller stäng av den ännu.</translation>
    </message>
    <message>
        <source>Update not confirmed</source>
        <translation>Uppdateringen är inte bekräftad</translation>
    </message>
    <message>
        <source>Your AIS device reports version %1 instead of %2.</source>
        <translation>Din AIS-enhet rapporterar version %1 i stället för %2.</translation>
    </message>
    <message>
        <source>No answer from your AIS device</source>
        <translation>Inget svar från AIS-enheten</translation>
    </message>
    <message>
        <source>The update file was sent, but the AIS device has not reported back yet.</source>
        <translation>Uppdateringsfilen har skickats, men AIS-enheten har inte svarat ännu.</translation>
    </message>
    <message>
        <source>Do not disconnect or power down the AIS device yet.</source>
        <translation>Koppla inte bort eller stäng av AIS-enheten ännu.</translation>
    </message>
    <message>
        <source>to exit or </source>
        <translation>för att avsluta eller på </translation>
    </message>
    <message>
        <source>to ask it again.</source>
        <translation>för att fråga den igen.</translation>
    </message>
    <message>
        <source>About Quaymend</source>
        <translation>Om Quaymend</translation>
    </message>
    <message>
        <source>Version </source>
        <translation>Version </translation>
    </message>
    <message>
        <source>This program uses the Qt toolkit, version %1.</source>
        <translation>Det här programmet använder ramverket Qt, version %1.</translation>
    </message>
    <message>
        <source>Qt is provided under the GNU Lesser General Public License version 3 (LGPL 3).</source>
        <translation>Qt tillhandahålls under GNU Lesser General Public License version 3 (LGPL 3).</translation>
    </message>
    <message>
        <source>AIS Class B CS Transceiver</source>
        <translation>AIS-transponder klass B CS</translation>
    </message>
    <message>
        <source>AIS Class B SO Transceiver</source>
        <translation>AIS-transponder klass B SO</translation>
    </message>
    <message>
        <source>AIS Class B Transceiver</source>
        <translation>AIS-transponder klass B</translation>
    </message>
    <message>
        <source>Update progress</source>
        <translation>Uppdateringsförlopp</translation>
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
        <translation>Kopiera logg</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Försök igen</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Starta</translation>
    </message>
</context>
</TS>
