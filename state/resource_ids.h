/* Resource and control identifiers of Setup.exe. Included by the resource
   script and by the code, so it holds nothing but #defines. */
#ifndef QUENTAR_RESOURCE_IDS_H
#define QUENTAR_RESOURCE_IDS_H

/* Dialog templates (a page is identified by its template id). */
#define IDD_WELCOME          107
#define IDD_LICENSE          224
#define IDD_DESTINATION      227
#define IDD_PROGRESS         228
#define IDD_DONE             229
#define IDD_AXIS             230
#define IDD_WELCOME_UPDATE   231

/* Artwork and data. */
#define IDI_SETUP            128
#define IDB_BANNER           227
#define IDR_PAYLOAD          101
#define IDR_LICENSE          102  /* the licence agreement, RTF */
#define IDR_PAYLOAD_SHA256   103  /* SHA-256 of resource 101, 64 hexadecimal digits */

/* String table. */
#define IDS_FIELD_EMPTY          206
#define IDS_UNINSTALL_KEY_FAILED 207
#define IDS_PATH_MISSING         211
#define IDS_PATH_CREATE_FAILED   212
#define IDS_RUN_FAILED           213
#define IDS_SHEET_CAPTION        260
#define IDS_UNEXPECTED_ERROR     263
#define IDS_CREATE_FILE_FAILED   264
#define IDS_ILLEGAL_CHARACTERS   266
#define IDS_ADMIN_REQUIRED       267
#define IDS_NO_APPLICATION       268  /* the payload lacks the application */
#define IDS_UPDATE_STILL_RUNNING 269  /* the running application has not ended */
#define IDS_UPDATE_MOVE_FAILED   270  /* the new executable cannot take the old one's place */
#define IDS_ALREADY_RUNNING      271  /* another setup of the product runs */
#define IDS_PATH_TOO_LONG        272  /* the destination cannot hold the installed files' paths */
#define IDS_DESTINATION_RIGHTS   273  /* others may change the destination: its rights will be set */
#define IDS_DESTINATION_LINK     274  /* the destination is a junction or a symbolic link */
#define IDS_UPDATE_REFUSED       275  /* "/exe:" names no installed Quentar */
#define IDS_RECOVERY_INCOMPLETE  280  /* an interrupted run could not be taken back fully */

/* Welcome page (107, 231). */
#define IDC_VERSION_TEXT     1127
#define IDC_APPLICATION_BOX  1128
#define IDC_AXIS_BOX         1129
#define IDC_ARECONT_BOX      1130
/* Licence-agreement page (224). */
#define IDC_LICENSE_TEXT     1130
#define IDC_DISAGREE         1131
#define IDC_AGREE            1132
/* Destination page (227). */
#define IDC_DESKTOP_BOX      1003
#define IDC_DESTINATION      1141
#define IDC_BROWSE           1142
#define IDC_PROGRAM_FOLDER   1143
#define IDC_SPACE_TEXT       1144  /* the space the chosen components need */
/* Progress page (228). */
#define IDC_PROGRESS         1035
/* Finish page (229). */
#define IDC_START_BOX        1000
#define IDC_FINISH_HINT      1001
#define IDC_RUNTIME_HINT     1002

#endif
