<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="nl">
<context>
    <name>Quaymend</name>
    <message>
        <source>&quot;%1&quot; does not exist.</source>
        <translation>&quot;%1&quot; bestaat niet.</translation>
    </message>
    <message>
        <source>The folder &quot;%1&quot; cannot be read.</source>
        <translation>De map &quot;%1&quot; kan niet worden gelezen.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is neither an update file nor a folder.</source>
        <translation>&quot;%1&quot; is geen updatebestand en ook geen map.</translation>
    </message>
    <message>
        <source>The update file &quot;%1&quot; cannot be read.</source>
        <translation>Het updatebestand &quot;%1&quot; kan niet worden gelezen.</translation>
    </message>
    <message>
        <source>Click  </source>
        <translation>Klik op  </translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Sluiten</translation>
    </message>
    <message>
        <source>to exit.</source>
        <translation>om af te sluiten.</translation>
    </message>
    <message>
        <source>Next...</source>
        <translation>Volgende...</translation>
    </message>
    <message>
        <source>to continue.</source>
        <translation>om verder te gaan.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuleren</translation>
    </message>
    <message>
        <source>to abort or </source>
        <translation>om af te breken of op </translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Opnieuw</translation>
    </message>
    <message>
        <source>to try again.</source>
        <translation>om het nog eens te proberen.</translation>
    </message>
    <message>
        <source>This may take a few minutes. Windows may request confirmation to allow installation of the driver; you must allow installation to complete the update.</source>
        <translation>Dit kan enkele minuten duren. Windows vraagt mogelijk toestemming om het stuurprogramma te installeren; sta dit toe om de update te voltooien.</translation>
    </message>
    <message>
        <source>During the installation, you may be requested to restart your PC.  If this happens, do so then run Quaymend again to complete the process.</source>
        <translation>Mogelijk vraagt de installatie om uw pc opnieuw op te starten.  Doe dat dan en start Quaymend daarna opnieuw om de update te voltooien.</translation>
    </message>
    <message>
        <source> found</source>
        <translation> gevonden</translation>
    </message>
    <message>
        <source>Current version: </source>
        <translation>Huidige versie: </translation>
    </message>
    <message>
        <source>Update version: </source>
        <translation>Nieuwe versie: </translation>
    </message>
    <message>
        <source>Welcome</source>
        <translation>Welkom</translation>
    </message>
    <message>
        <source>This software will install or update the USB device driver necessary to communicate with your AIS device and update the AIS device firmware to ensure optimum performance.</source>
        <translation>Dit programma installeert of vernieuwt het USB-stuurprogramma dat nodig is om met uw AIS-apparaat te communiceren, en werkt de firmware van het AIS-apparaat bij voor optimale prestaties.</translation>
    </message>
    <message>
        <source>It is recommended that all other applications are closed before proceeding.</source>
        <translation>Sluit bij voorkeur alle andere programma&apos;s voordat u verdergaat.</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Starten</translation>
    </message>
    <message>
        <source>to proceed</source>
        <translation>om te beginnen</translation>
    </message>
    <message>
        <source>Disconnect AIS</source>
        <translation>AIS loskoppelen</translation>
    </message>
    <message>
        <source>Disconnect all AIS devices from this PC before continuing.</source>
        <translation>Koppel alle AIS-apparaten los van deze pc voordat u verdergaat.</translation>
    </message>
    <message>
        <source>Installing USB driver</source>
        <translation>USB-stuurprogramma installeren</translation>
    </message>
    <message>
        <source>Installing AIS USB driver</source>
        <translation>AIS-USB-stuurprogramma wordt geïnstalleerd</translation>
    </message>
    <message>
        <source>AIS USB driver installed</source>
        <translation>AIS-USB-stuurprogramma geïnstalleerd</translation>
    </message>
    <message>
        <source>AIS USB driver install failed</source>
        <translation>Installatie AIS-USB-stuurprogramma mislukt</translation>
    </message>
    <message>
        <source>Contact your supplier for support.</source>
        <translation>Neem voor ondersteuning contact op met uw leverancier.</translation>
    </message>
    <message>
        <source>Connect your AIS device</source>
        <translation>Sluit uw AIS-apparaat aan</translation>
    </message>
    <message>
        <source>Connect your AIS device to your PC via its USB cable.</source>
        <translation>Sluit uw AIS-apparaat met de USB-kabel aan op uw pc.</translation>
    </message>
    <message>
        <source>when you have connected your AIS.</source>
        <translation>zodra u uw AIS hebt aangesloten.</translation>
    </message>
    <message>
        <source>Detecting your AIS device</source>
        <translation>Uw AIS-apparaat wordt gezocht</translation>
    </message>
    <message>
        <source>Please wait...</source>
        <translation>Even geduld...</translation>
    </message>
    <message>
        <source>Current version is up to date.</source>
        <translation>De huidige versie is up-to-date.</translation>
    </message>
    <message>
        <source>The connected AIS device will be updated.</source>
        <translation>Het aangesloten AIS-apparaat wordt bijgewerkt.</translation>
    </message>
    <message>
        <source>to start AIS update.</source>
        <translation>om de AIS-update te starten.</translation>
    </message>
    <message>
        <source>No update available for this device. Contact your supplier for support.</source>
        <translation>Er is geen update beschikbaar voor dit apparaat. Neem voor ondersteuning contact op met uw leverancier.</translation>
    </message>
    <message>
        <source>No AIS device found</source>
        <translation>Geen AIS-apparaat gevonden</translation>
    </message>
    <message>
        <source>If the AIS device is connected, disconnect it before proceeding.</source>
        <translation>Als het AIS-apparaat is aangesloten, koppel het dan los voordat u verdergaat.</translation>
    </message>
    <message>
        <source>Updating AIS device</source>
        <translation>AIS-apparaat wordt bijgewerkt</translation>
    </message>
    <message>
        <source>Switching AIS to update mode...</source>
        <translation>AIS wordt in de updatemodus gezet...</translation>
    </message>
    <message>
        <source>Connecting to AIS in update mode...</source>
        <translation>Verbinding met AIS in updatemodus maken...</translation>
    </message>
    <message>
        <source>Update in progress...</source>
        <translation>Update wordt uitgevoerd...</translation>
    </message>
    <message>
        <source>IMPORTANT: Do not terminate Quaymend, disconnect or power down the AIS device during the update.</source>
        <translation>BELANGRIJK: sluit Quaymend tijdens de update niet af en koppel het AIS-apparaat niet los of schakel het niet uit.</translation>
    </message>
    <message>
        <source>Failed to connect for update</source>
        <translation>Geen verbinding voor de update</translation>
    </message>
    <message>
        <source>It has not been possible to update your AIS.</source>
        <translation>Uw AIS kon niet worden bijgewerkt.</translation>
    </message>
    <message>
        <source>You may retry, or contact your supplier for support.</source>
        <translation>U kunt het opnieuw proberen of voor ondersteuning contact opnemen met uw leverancier.</translation>
    </message>
    <message>
        <source>Update failed</source>
        <translation>Update mislukt</translation>
    </message>
    <message>
        <source>Restarting connection...</source>
        <translation>Verbinding wordt opnieuw gestart...</translation>
    </message>
    <message>
        <source>Update incomplete</source>
        <translation>Update onvolledig</translation>
    </message>
    <message>
        <source>Unable to access update port.</source>
        <translation>Geen toegang tot de updatepoort.</translation>
    </message>
    <message>
        <source>Unable to access update file.</source>
        <translation>Geen toegang tot het updatebestand.</translation>
    </message>
    <message>
        <source>Update complete</source>
        <translation>Update voltooid</translation>
    </message>
    <message>
        <source>The update has completed successfully.</source>
        <translation>De update is met succes voltooid.</translation>
    </message>
    <message>
        <source>It is now safe to disconnect your AIS device from the PC.</source>
        <translation>U kunt uw AIS-apparaat nu veilig loskoppelen van de pc.</translation>
    </message>
    <message>
        <source>Your AIS device now runs version %1.</source>
        <translation>Uw AIS-apparaat draait nu versie %1.</translation>
    </message>
    <message>
        <source>Confirming the update...</source>
        <translation>Update wordt bevestigd...</translation>
    </message>
    <message>
        <source>The AIS device is restarting with its new firmware. Do not disconnect or power it down yet.</source>
        <translation>Het AIS-apparaat start opnieuw op met de nieuwe firmware. Koppel het nog niet los en schakel het nog niet uit.</translation>
    </message>
    <message>
        <source>Update not confirmed</source>
        <translation>Update niet bevestigd</translation>
    </message>
    <message>
        <source>Your AIS device reports version %1 instead of %2.</source>
        <translation>Uw AIS-apparaat meldt versie %1 in plaats van %2.</translation>
    </message>
    <message>
        <source>No answer from your AIS device</source>
        <translation>Geen antwoord van uw AIS-apparaat</translation>
    </message>
    <message>
        <source>The update file was sent, but the AIS device has not reported back yet.</source>
        <translation>Het updatebestand is verzonden, maar het AIS-apparaat heeft zich nog niet gemeld.</translation>
    </message>
    <message>
        <source>Do not disconnect or power down the AIS device yet.</source>
        <translation>Koppel het AIS-apparaat nog niet los en schakel het nog niet uit.</translation>
    </message>
    <message>
        <source>to exit or </source>
        <translation>om af te sluiten of op </translation>
    </message>
    <message>
        <source>to ask it again.</source>
        <translation>om het apparaat opnieuw te bevragen.</translation>
    </message>
    <message>
        <source>About Quaymend</source>
        <translation>Over Quaymend</translation>
    </message>
    <message>
        <source>Version </source>
        <translation>Versie </translation>
    </message>
    <message>
        <source>This program uses the Qt toolkit, version %1.</source>
        <translation>Dit programma gebruikt de Qt-toolkit, versie %1.</translation>
    </message>
    <message>
        <source>Qt is provided under the GNU Lesser General Public License version 3 (LGPL 3).</source>
        <translation>Qt wordt geleverd onder de GNU Lesser General Public License versie 3 (LGPL 3).</translation>
    </message>
    <message>
        <source>AIS Class B CS Transceiver</source>
        <translation>AIS-transponder klasse B CS</translation>
    </message>
    <message>
        <source>AIS Class B SO Transceiver</source>
        <translation>AIS-transponder klasse B SO</translation>
    </message>
    <message>
        <source>AIS Class B Transceiver</source>
        <translation>AIS-transponder klasse B</translation>
    </message>
    <message>
        <source>Update progress</source>
        <translation>Voortgang van de update</translation>
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
        <translation>Logboek kopiëren</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Opnieuw</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Starten</translation>
    </message>
</context>
</TS>
