<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr">
<context>
    <name>Quaymend</name>
    <message>
        <source>&quot;%1&quot; does not exist.</source>
        <translation>&quot;%1&quot; n’existe pas.</translation>
    </message>
    <message>
        <source>The folder &quot;%1&quot; cannot be read.</source>
        <translation>Impossible de lire le dossier &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is neither an update file nor a folder.</source>
        <translation>&quot;%1&quot; n’est ni un fichier de mise à jour ni un dossier.</translation>
    </message>
    <message>
        <source>The update file &quot;%1&quot; cannot be read.</source>
        <translation>Impossible de lire le fichier de mise à jour &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>Click  </source>
        <translation>Cliquez sur  </translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
    <message>
        <source>to exit.</source>
        <translation>pour quitter.</translation>
    </message>
    <message>
        <source>Next...</source>
        <translation>Suivant...</translation>
    </message>
    <message>
        <source>to continue.</source>
        <translation>pour continuer.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>to abort or </source>
        <translation>pour abandonner ou sur </translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Réessayer</translation>
    </message>
    <message>
        <source>to try again.</source>
        <translation>pour faire une nouvelle tentative.</translation>
    </message>
    <message>
        <source>This may take a few minutes. Windows may request confirmation to allow installation of the driver; you must allow installation to complete the update.</source>
        <translation>Cela peut prendre quelques minutes. Windows peut vous demander d’autoriser l’installation du pilote&#xa0;; vous devez l’autoriser pour que la mise à jour aboutisse.</translation>
    </message>
    <message>
        <source>During the installation, you may be requested to restart your PC.  If this happens, do so then run Quaymend again to complete the process.</source>
        <translation>Pendant l’installation, il peut vous être demandé de redémarrer votre PC.  Dans ce cas, redémarrez-le, puis relancez Quaymend pour terminer l’opération.</translation>
    </message>
    <message>
        <source> found</source>
        <translation> détecté</translation>
    </message>
    <message>
        <source>Current version: </source>
        <translation>Version actuelle&#xa0;: </translation>
    </message>
    <message>
        <source>Update version: </source>
        <translation>Nouvelle version&#xa0;: </translation>
    </message>
    <message>
        <source>Welcome</source>
        <translation>Bienvenue</translation>
    </message>
    <message>
        <source>This software will install or update the USB device driver necessary to communicate with your AIS device and update the AIS device firmware to ensure optimum performance.</source>
        <translation>Ce logiciel installe ou met à jour le pilote USB nécessaire pour communiquer avec votre appareil AIS, puis met à jour le micrologiciel de l’appareil AIS pour en optimiser le fonctionnement.</translation>
    </message>
    <message>
        <source>It is recommended that all other applications are closed before proceeding.</source>
        <translation>Nous vous recommandons de fermer toutes les autres applications avant de continuer.</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Démarrer</translation>
    </message>
    <message>
        <source>to proceed</source>
        <translation>pour commencer</translation>
    </message>
    <message>
        <source>Disconnect AIS</source>
        <translation>Déconnecter l’AIS</translation>
    </message>
    <message>
        <source>Disconnect all AIS devices from this PC before continuing.</source>
        <translation>Déconnectez tous les appareils AIS de ce PC avant de continuer.</translation>
    </message>
    <message>
        <source>Installing USB driver</source>
        <translation>Installation du pilote USB</translation>
    </message>
    <message>
        <source>Installing AIS USB driver</source>
        <translation>Installation du pilote USB AIS</translation>
    </message>
    <message>
        <source>AIS USB driver installed</source>
        <translation>Pilote USB AIS installé</translation>
    </message>
    <message>
        <source>AIS USB driver install failed</source>
        <translation>Échec de l’installation du pilote USB AIS</translation>
    </message>
    <message>
        <source>Contact your supplier for support.</source>
        <translation>Contactez votre revendeur pour obtenir de l’aide.</translation>
    </message>
    <message>
        <source>Connect your AIS device</source>
        <translation>Connectez votre appareil AIS</translation>
    </message>
    <message>
        <source>Connect your AIS device to your PC via its USB cable.</source>
        <translation>Connectez votre appareil AIS à votre PC avec son câble USB.</translation>
    </message>
    <message>
        <source>when you have connected your AIS.</source>
        <translation>une fois votre AIS connecté.</translation>
    </message>
    <message>
        <source>Detecting your AIS device</source>
        <translation>Détection de votre appareil AIS</translation>
    </message>
    <message>
        <source>Please wait...</source>
        <translation>Veuillez patienter...</translation>
    </message>
    <message>
        <source>Current version is up to date.</source>
        <translation>La version actuelle est à jour.</translation>
    </message>
    <message>
        <source>The connected AIS device will be updated.</source>
        <translation>L’appareil AIS connecté va être mis à jour.</translation>
    </message>
    <message>
        <source>to start AIS update.</source>
        <translation>pour lancer la mise à jour de l’AIS.</translation>
    </message>
    <message>
        <source>No update available for this device. Contact your supplier for support.</source>
        <translation>Aucune mise à jour n’est disponible pour cet appareil. Contactez votre revendeur pour obtenir de l’aide.</translation>
    </message>
    <message>
        <source>No AIS device found</source>
        <translation>Aucun appareil AIS détecté</translation>
    </message>
    <message>
        <source>If the AIS device is connected, disconnect it before proceeding.</source>
        <translation>Si l’appareil AIS est connecté, déconnectez-le avant de continuer.</translation>
    </message>
    <message>
        <source>Updating AIS device</source>
        <translation>Mise à jour de l’appareil AIS</translation>
    </message>
    <message>
        <source>Switching AIS to update mode...</source>
        <translation>Passage de l’AIS en mode mise à jour...</translation>
    </message>
    <message>
        <source>Connecting to AIS in update mode...</source>
        <translation>Connexion à l’AIS en mode mise à jour...</translation>
    </message>
    <message>
        <source>Update in progress...</source>
        <translation>Mise à jour en cours...</translation>
    </message>
    <message>
        <source>IMPORTANT: Do not terminate Quaymend, disconnect or power down the AIS device during the update.</source>
        <translation>IMPORTANT&#xa0;: ne fermez pas Quaymend, ne déconnectez pas et n’éteignez pas l’appareil AIS pendant la mise à jour.</translation>
    </message>
    <message>
        <source>Failed to connect for update</source>
        <translation>Échec de la connexion pour la mise à jour</translation>
    </message>
    <message>
        <source>It has not been possible to update your AIS.</source>
        <translation>La mise à jour de votre AIS n’a pas pu être effectuée.</translation>
    </message>
    <message>
        <source>You may retry, or contact your supplier for support.</source>
        <translation>Vous pouvez réessayer ou contacter votre revendeur pour obtenir de l’aide.</translation>
    </message>
    <message>
        <source>Update failed</source>
        <translation>Échec de la mise à jour</translation>
    </message>
    <message>
        <source>Restarting connection...</source>
        <translation>Redémarrage de la connexion...</translation>
    </message>
    <message>
        <source>Update incomplete</source>
        <translation>Mise à jour incomplète</translation>
    </message>
    <message>
        <source>Unable to access update port.</source>
        <translation>Impossible d’accéder au port de mise à jour.</translation>
    </message>
    <message>
        <source>Unable to access update file.</source>
        <translation>Impossible d’accéder au fichier de mise à jour.</translation>
    </message>
    <message>
        <source>Update complete</source>
        <translation>Mise à jour terminée</translation>
    </message>
    <message>
        <source>The update has completed successfully.</source>
        <translation>La mise à jour s’est terminée avec succès.</translation>
    </message>
    <message>
        <source>It is now safe to disconnect your AIS device from the PC.</source>
        <translation>Vous pouvez maintenant déconnecter votre appareil AIS du PC en toute sécurité.</translation>
    </message>
    <message>
        <source>Your AIS device now runs version %1.</source>
        <translation>Votre appareil AIS fonctionne maintenant avec la version %1.</translation>
    </message>
    <message>
        <source>Confirming the update...</source>
        <translation>Confirmation de la mise à jour...</translation>
    </message>
    <message>
        <source>The AIS device is restarting with its new firmware. Do not disconnect or power it down yet.</source>
        <translation>L’appareil AIS redémarre avec son nouveau micrologiciel. Ne le déconnectez pas et ne l’éteignez pas encore.</translation>
    </message>
    <message>
        <source>Update not confirmed</source>
        <translation>Mise à jour non confirmée</translation>
    </message>
    <message>
        <source>Your AIS device reports version %1 instead of %2.</source>
        <translation>Votre appareil AIS indique la version %1 au lieu de %2.</translation>
    </message>
    <message>
        <source>No answer from your AIS device</source>
        <translation>Pas de réponse de votre appareil AIS</translation>
    </message>
    <message>
        <source>The update file was sent, but the AIS device has not reported back yet.</source>
        <translation>Le fichier de mise à jour a été envoyé, mais l’appareil AIS n’a pas encore répondu.</translation>
    </message>
    <message>
        <source>Do not disconnect or power down the AIS device yet.</source>
        <translation>Ne déconnectez pas et n’éteignez pas encore l’appareil AIS.</translation>
    </message>
    <message>
        <source>to exit or </source>
        <translation>pour quitter ou sur </translation>
    </message>
    <message>
        <source>to ask it again.</source>
        <translation>pour l’interroger à nouveau.</translation>
    </message>
    <message>
        <source>About Quaymend</source>
        <translation>À propos de Quaymend</translation>
    </message>
    <message>
        <source>Version </source>
        <translation>Version </translation>
    </message>
    <message>
        <source>This program uses the Qt toolkit, version %1.</source>
        <translation>Ce programme utilise la bibliothèque Qt, version %1.</translation>
    </message>
    <message>
        <source>Qt is provided under the GNU Lesser General Public License version 3 (LGPL 3).</source>
        <translation>Qt est fourni sous la licence GNU Lesser General Public License version 3 (LGPL 3).</translation>
    </message>
    <message>
        <source>AIS Class B CS Transceiver</source>
        <translation>Transpondeur AIS classe B CS</translation>
    </message>
    <message>
        <source>AIS Class B SO Transceiver</source>
        <translation>Transpondeur AIS classe B SO</translation>
    </message>
    <message>
        <source>AIS Class B Transceiver</source>
        <translation>Transpondeur AIS classe B</translation>
    </message>
    <message>
        <source>Update progress</source>
        <translation>Progression de la mise à jour</translation>
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
        <translation>Copier le journal</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Réessayer</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Démarrer</translation>
    </message>
</context>
</TS>
