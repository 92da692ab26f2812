<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>GameUpdater</name>
    <message>
        <source>Checking </source>
        <comment>When we check a file</comment>
        <translation>Vérification de </translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Terminé</translation>
    </message>
    <message>
        <source>Download error (004). Local version available.</source>
        <translation>Erreur de téléchargement (004). Version locale disponible.</translation>
    </message>
    <message>
        <source>Download interrupted (004). Local version available.</source>
        <translation>Téléchargement interrompu (004). Version locale disponible.</translation>
    </message>
    <message>
        <source>Error when opening file (005). Local version available.</source>
        <translation>Erreur à l&apos;ouverture du fichier (005). Version locale disponible.</translation>
    </message>
    <message>
        <source>Error when writing file (005). Local version available.</source>
        <translation>Erreur à l&apos;écriture du fichier (005). Version locale disponible.</translation>
    </message>
    <message>
        <source>Download error (006). Local version available.</source>
        <translation>Erreur de téléchargement (006). Version locale disponible.</translation>
    </message>
    <message>
        <source>Download interrupted (006). Local version available.</source>
        <translation>Téléchargement interrompu (006). Version locale disponible.</translation>
    </message>
    <message>
        <source>Error when opening file (007). Local version available.</source>
        <translation>Erreur à l&apos;ouverture du fichier (007). Version locale disponible.</translation>
    </message>
    <message>
        <source>Error when writing file (007). Local version available.</source>
        <translation>Erreur à l&apos;écriture du fichier (007). Version locale disponible.</translation>
    </message>
    <message>
        <source>Downloading  </source>
        <comment>When we download a file</comment>
        <translation>Téléchargement de </translation>
    </message>
    <message>
        <source>Downloading</source>
        <comment>When we download a file</comment>
        <translation>Téléchargement</translation>
    </message>
    <message>
        <source>Error in the update manifesto. (010)</source>
        <translation>Erreur dans le manifeste de mise à jour. (010)</translation>
    </message>
    <message>
        <source>Error in the update manifesto. (011)</source>
        <translation>Erreur dans le manifeste de mise à jour. (011)</translation>
    </message>
    <message>
        <source>Error in the update manifesto (009).</source>
        <translation>Erreur dans le manifeste de mise à jour (009).</translation>
    </message>
    <message>
        <source>Update not signed by the studio (012). Local version available.</source>
        <translation>Mise à jour non signée par le studio (012). Version locale disponible.</translation>
    </message>
    <message>
        <source>Update older than the installed one (013). Local version available.</source>
        <translation>Mise à jour plus ancienne que celle installée (013). Version locale disponible.</translation>
    </message>
    <message>
        <source>Downloaded file does not match the update manifest (014). Local version available.</source>
        <translation>Le fichier téléchargé ne correspond pas au manifeste de mise à jour (014). Version locale disponible.</translation>
    </message>
    <message>
        <source>Update signature expired (015). Local version available.</source>
        <translation>Signature de la mise à jour expirée (015). Version locale disponible.</translation>
    </message>
    <message>
        <source>Record of installed updates unreadable (016). Local version available.</source>
        <translation>Relevé des mises à jour installées illisible (016). Version locale disponible.</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Play</source>
        <translation>Jouer</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
    <message>
        <source>Repair</source>
        <translation>Réparer</translation>
    </message>
    <message>
        <source>Checking new version.</source>
        <translation>Recherche d&apos;une nouvelle version.</translation>
    </message>
    <message>
        <source>Patch notes.</source>
        <translation>Notes de mise à jour.</translation>
    </message>
    <message>
        <source>Website</source>
        <translation>Site web</translation>
    </message>
    <message>
        <source>Wiki</source>
        <translation>Wiki</translation>
    </message>
    <message>
        <source>Discord</source>
        <translation>Discord</translation>
    </message>
    <message>
        <source>Import save file</source>
        <translation>Importer la sauvegarde</translation>
    </message>
    <message>
        <source>Import external save file</source>
        <translation>Importer une sauvegarde externe</translation>
    </message>
    <message>
        <source>Graphic options</source>
        <translation>Options graphiques</translation>
    </message>
    <message>
        <source>Fullscreen</source>
        <translation>Plein écran</translation>
    </message>
    <message>
        <source>Normal ratio</source>
        <translation>Taille normale</translation>
    </message>
    <message>
        <source>Scale x2</source>
        <translation>Échelle x2</translation>
    </message>
    <message>
        <source>Scale x3</source>
        <translation>Échelle x3</translation>
    </message>
    <message>
        <source>Save manager</source>
        <translation>Gestionnaire de sauvegardes</translation>
    </message>
    <message>
        <source>Backup save</source>
        <translation>Copier la sauvegarde</translation>
    </message>
    <message>
        <source>Remove save</source>
        <translation>Supprimer une copie</translation>
    </message>
    <message>
        <source>Other options</source>
        <translation>Autres options</translation>
    </message>
    <message>
        <source>Patch notes</source>
        <translation>Notes de mise à jour</translation>
    </message>
    <message>
        <source>Advanced options</source>
        <translation>Options avancées</translation>
    </message>
    <message>
        <source>Unable to start Game.exe, please check your antivirus and repair files. (Error 008)</source>
        <translation>Impossible de lancer Game.exe, veuillez vérifier votre antivirus et réparer les fichiers. (Erreur 008)</translation>
    </message>
    <message>
        <source>A new launcher update is available. The program will restart.</source>
        <translation>Une nouvelle version du launcher est disponible. Le programme va redémarrer.</translation>
    </message>
    <message>
        <source>You have the latest version.</source>
        <translation>Vous possédez la dernière version.</translation>
    </message>
    <message>
        <source>Update finished. You have the latest version.</source>
        <translation>Mise à jour terminée. Vous possédez la dernière version.</translation>
    </message>
    <message>
        <source>Save as</source>
        <translation>Enregistrer sous</translation>
    </message>
    <message>
        <source>Unable to export save file. (Error 001)</source>
        <translation>Impossible d&apos;exporter la sauvegarde. (Erreur 001)</translation>
    </message>
    <message>
        <source>Unable to export save file. (Error 002)</source>
        <translation>Impossible d&apos;exporter la sauvegarde. (Erreur 002)</translation>
    </message>
    <message>
        <source>Save successfully exported.</source>
        <translation>Sauvegarde exportée avec succès.</translation>
    </message>
    <message>
        <source>Unable to import save file. (Error 001)</source>
        <translation>Impossible d&apos;importer la sauvegarde. (Erreur 001)</translation>
    </message>
    <message>
        <source>Unable to import save file. (Error 002)</source>
        <translation>Impossible d&apos;importer la sauvegarde. (Erreur 002)</translation>
    </message>
    <message>
        <source>Save successfully imported.</source>
        <translation>Sauvegarde importée avec succès.</translation>
    </message>
    <message>
        <source>Unable to import save file. (Error 2)</source>
        <translation>Impossible d&apos;importer la sauvegarde. (Erreur 2)</translation>
    </message>
    <message>
        <source>Unable to remove save file. (Error 003)</source>
        <translation>Impossible de supprimer la sauvegarde. (Erreur 003)</translation>
    </message>
    <message>
        <source>Save succesfully removed.</source>
        <translation>Sauvegarde supprimée avec succès.</translation>
    </message>
</context>
<context>
    <name>SaveManager</name>
    <message>
        <source>Save files (*)</source>
        <translation>Fichiers de sauvegarde (*)</translation>
    </message>
    <message>
        <source>Select save file</source>
        <translation>Sélectionner une sauvegarde</translation>
    </message>
</context>
</TS>
