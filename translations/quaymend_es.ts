<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es">
<context>
    <name>Quaymend</name>
    <message>
        <source>&quot;%1&quot; does not exist.</source>
        <translation>&quot;%1&quot; no existe.</translation>
    </message>
    <message>
        <source>The folder &quot;%1&quot; cannot be read.</source>
        <translation>No se puede leer la carpeta &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is neither an update file nor a folder.</source>
        <translation>&quot;%1&quot; no es un archivo de actualización ni una carpeta.</translation>
    </message>
    <message>
        <source>The update file &quot;%1&quot; cannot be read.</source>
        <translation>No se puede leer el archivo de actualización &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>Click  </source>
        <translation>Haga clic en  </translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
    <message>
        <source>to exit.</source>
        <translation>para salir.</translation>
    </message>
    <message>
        <source>Next...</source>
        <translation>Siguiente...</translation>
    </message>
    <message>
        <source>to continue.</source>
        <translation>para continuar.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>to abort or </source>
        <translation>para cancelar o en </translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Reintentar</translation>
    </message>
    <message>
        <source>to try again.</source>
        <translation>para volver a intentarlo.</translation>
    </message>
    <message>
        <source>This may take a few minutes. Windows may request confirmation to allow installation of the driver; you must allow installation to complete the update.</source>
        <translation>Esto puede tardar unos minutos. Es posible que Windows le pida confirmación para instalar el controlador; debe permitir la instalación para completar la actualización.</translation>
    </message>
    <message>
        <source>During the installation, you may be requested to restart your PC.  If this happens, do so then run Quaymend again to complete the process.</source>
        <translation>Durante la instalación, es posible que se le pida reiniciar el PC.  En ese caso, reinícielo y vuelva a ejecutar Quaymend para completar el proceso.</translation>
    </message>
    <message>
        <source> found</source>
        <translation> detectado</translation>
    </message>
    <message>
        <source>Current version: </source>
        <translation>Versión actual: </translation>
    </message>
    <message>
        <source>Update version: </source>
        <translation>Nueva versión: </translation>
    </message>
    <message>
        <source>Welcome</source>
        <translation>Bienvenido</translation>
    </message>
    <message>
        <source>This software will install or update the USB device driver necessary to communicate with your AIS device and update the AIS device firmware to ensure optimum performance.</source>
        <translation>Este programa instala o actualiza el controlador USB necesario para comunicarse con su dispositivo AIS y actualiza el firmware del dispositivo AIS para garantizar un rendimiento óptimo.</translation>
    </message>
    <message>
        <source>It is recommended that all other applications are closed before proceeding.</source>
        <translation>Se recomienda cerrar todas las demás aplicaciones antes de continuar.</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Iniciar</translation>
    </message>
    <message>
        <source>to proceed</source>
        <translation>para comenzar</translation>
    </message>
    <message>
        <source>Disconnect AIS</source>
        <translation>Desconecte el AIS</translation>
    </message>
    <message>
        <source>Disconnect all AIS devices from this PC before continuing.</source>
        <translation>Desconecte todos los dispositivos AIS de este PC antes de continuar.</translation>
    </message>
    <message>
        <source>Installing USB driver</source>
        <translation>Instalación del controlador USB</translation>
    </message>
    <message>
        <source>Installing AIS USB driver</source>
        <translation>Instalando el controlador USB del AIS</translation>
    </message>
    <message>
        <source>AIS USB driver installed</source>
        <translation>Controlador USB del AIS instalado</translation>
    </message>
    <message>
        <source>AIS USB driver install failed</source>
        <translation>Error al instalar el controlador USB del AIS</translation>
    </message>
    <message>
        <source>Contact your supplier for support.</source>
        <translation>Póngase en contacto con su proveedor para obtener asistencia.</translation>
    </message>
    <message>
        <source>Connect your AIS device</source>
        <translation>Conecte su dispositivo AIS</translation>
    </message>
    <message>
        <source>Connect your AIS device to your PC via its USB cable.</source>
        <translation>Conecte su dispositivo AIS al PC con su cable USB.</translation>
    </message>
    <message>
        <source>when you have connected your AIS.</source>
        <translation>cuando haya conectado su AIS.</translation>
    </message>
    <message>
        <source>Detecting your AIS device</source>
        <translation>Detectando su dispositivo AIS</translation>
    </message>
    <message>
        <source>Please wait...</source>
        <translation>Espere, por favor...</translation>
    </message>
    <message>
        <source>Current version is up to date.</source>
        <translation>La versión actual está al día.</translation>
    </message>
    <message>
        <source>The connected AIS device will be updated.</source>
        <translation>El dispositivo AIS conectado se actualizará.</translation>
    </message>
    <message>
        <source>to start AIS update.</source>
        <translation>para iniciar la actualización del AIS.</translation>
    </message>
    <message>
        <source>No update available for this device. Contact your supplier for support.</source>
        <translation>No hay ninguna actualización disponible para este dispositivo. Póngase en contacto con su proveedor para obtener asistencia.</translation>
    </message>
    <message>
        <source>No AIS device found</source>
        <translation>No se ha encontrado ningún dispositivo AIS</translation>
    </message>
    <message>
        <source>If the AIS device is connected, disconnect it before proceeding.</source>
        <translation>Si el dispositivo AIS está conectado, desconéctelo antes de continuar.</translation>
    </message>
    <message>
        <source>Updating AIS device</source>
        <translation>Actualizando el dispositivo AIS</translation>
    </message>
    <message>
        <source>Switching AIS to update mode...</source>
        <translation>Pasando el AIS al modo de actualización...</translation>
    </message>
    <message>
        <source>Connecting to AIS in update mode...</source>
        <translation>Conectando con el AIS en modo de actualización...</translation>
    </message>
    <message>
        <source>Update in progress...</source>
        <translation>Actualización en curso...</translation>
    </message>
    <message>
        <source>IMPORTANT: Do not terminate Quaymend, disconnect or power down the AIS device during the update.</source>
        <translation>IMPORTANTE: no cierre Quaymend ni desconecte o apague el dispositivo AIS durante la actualización.</translation>
    </message>
    <message>
        <source>Failed to connect for update</source>
        <translation>No se pudo conectar para la actualización</translation>
    </message>
    <message>
        <source>It has not been possible to update your AIS.</source>
        <translation>No ha sido posible actualizar su AIS.</translation>
    </message>
    <message>
        <source>You may retry, or contact your supplier for support.</source>
        <translation>Puede volver a intentarlo o ponerse en contacto con su proveedor para obtener asistencia.</translation>
    </message>
    <message>
        <source>Update failed</source>
        <translation>Error en la actualización</translation>
    </message>
    <message>
        <source>Restarting connection...</source>
        <translation>Reiniciando la conexión...</translation>
    </message>
    <message>
        <source>Update incomplete</source>
        <translation>Actualización incompleta</translation>
    </message>
    <message>
        <source>Unable to access update port.</source>
        <translation>No se puede acceder al puerto de actualización.</translation>
    </message>
    <message>
        <source>Unable to access update file.</source>
        <translation>No se puede acceder al archivo de actualización.</translation>
    </message>
    <message>
        <source>Update complete</source>
        <translation>Actualización completada</translation>
    </message>
    <message>
        <source>The update has completed successfully.</source>
        <translation>La actualización se ha completado correctamente.</translation>
    </message>
    <message>
        <source>It is now safe to disconnect your AIS device from the PC.</source>
        <translation>Ya puede desconectar su dispositivo AIS del PC de forma segura.</translation>
    </message>
    <message>
        <source>Your AIS device now runs version %1.</source>
        <translation>Su dispositivo AIS ejecuta ahora la versión %1.</translation>
    </message>
    <message>
        <source>Confirming the update...</source>
        <translation>Confirmando la actualización...</translation>
    </message>
    <message>
        <source>The AIS device is restarting with its new firmware. Do not disconnect or power it down yet.</source>
        <translation>El dispositivo AIS se está reiniciando con su nuevo firmware. No lo desconecte ni lo apague todavía.</translation>
    </message>
    <message>
        <source>Update not confirmed</source>
        <translation>Actualización no confirmada</translation>
    </message>
    <message>
        <source>Your AIS device reports version %1 instead of %2.</source>
        <translation>Su dispositivo AIS indica la versión %1 en lugar de la %2.</translation>
    </message>
    <message>
        <source>No answer from your AIS device</source>
        <translation>No hay respuesta de su dispositivo AIS</translation>
    </message>
    <message>
        <source>The update file was sent, but the AIS device has not reported back yet.</source>
        <translation>Se ha enviado el archivo de actualización, pero el dispositivo AIS aún no ha respondido.</translation>
    </message>
    <message>
        <source>Do not disconnect or power down the AIS device yet.</source>
        <translation>No desconecte ni apague todavía el dispositivo AIS.</translation>
    </message>
    <message>
        <source>to exit or </source>
        <translation>para salir o en </translation>
    </message>
    <message>
        <source>to ask it again.</source>
        <translation>para volver a consultarlo.</translation>
    </message>
    <message>
        <source>About Quaymend</source>
        <translation>Acerca de Quaymend</translation>
    </message>
    <message>
        <source>Version </source>
        <translation>Versión </translation>
    </message>
    <message>
        <source>This program uses the Qt toolkit, version %1.</source>
        <translation>Este programa utiliza la biblioteca Qt, versión %1.</translation>
    </message>
    <message>
        <source>Qt is provided under the GNU Lesser General Public License version 3 (LGPL 3).</source>
        <translation>Qt se distribuye bajo la GNU Lesser General Public License versión 3 (LGPL 3).</translation>
    </message>
    <message>
        <source>AIS Class B CS Transceiver</source>
        <translation>Transpondedor AIS clase B CS</translation>
    </message>
    <message>
        <source>AIS Class B SO Transceiver</source>
        <translation>Transpondedor AIS clase B SO</translation>
    </message>
    <message>
        <source>AIS Class B Transceiver</source>
        <translation>Transpondedor AIS clase B</translation>
    </message>
    <message>
        <source>Update progress</source>
        <translation>Progreso de la actualización</translation>
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
        <translation>Copiar registro</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Reintentar</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Iniciar</translation>
    </message>
</context>
</TS>
