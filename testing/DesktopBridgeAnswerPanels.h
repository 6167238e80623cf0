/* Answers the file panels of a host's own tests, as a person would: compiled into the host's test
 * program (AppKit, with or without ARC; DesktopBridgeAnswerPanels.m), it is told before a dialog
 * what to do with the next panel, and does it once the panel is on screen.
 *
 *   DesktopBridgeAnswerNextPanelWithPath("/tmp/out/song list.m3u");
 *   const char *chosen = DialogSaveFilePanel("Save", "", "playlist.m3u", "Playlist;m3u");
 *   // chosen is "/tmp/out/song list.m3u"
 *
 * Answers are given in the order panels appear, one answer per panel. A panel that comes up with
 * no answer left is cancelled and counted as unexpected, so that a test never waits for a person.
 * Call these functions on the main thread; panels are watched while the main thread runs a modal
 * panel (as the bundle's dialogs do, synchronous and asynchronous). Sheets are not answered. */
#ifndef DESKTOPBRIDGE_ANSWER_PANELS_H
#define DESKTOPBRIDGE_ANSWER_PANELS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Presses OK on the next panel as it comes up: a save panel takes the name it shows. */
void DesktopBridgeAnswerNextPanelOK(void);

/* Presses Cancel on the next panel: the dialog gives "". */
void DesktopBridgeAnswerNextPanelCancel(void);

/* Chooses path in the next panel, then presses OK. A save panel is shown path's folder and gets
 * path's last component as its name (give a path that does not exist yet: an existing file brings
 * up the panel's "replace" question, which is not answered). A folder panel is shown path itself.
 * An open panel of files is shown path's folder and path is selected in its browser where the
 * panel has one in this process (GNUstep; not macOS 10.15 and later, whose panels are drawn by
 * another process: there the answer ends as refused). The path is copied. */
void DesktopBridgeAnswerNextPanelWithPath(const char *path);

/* Panels answered as told; panels that came up with no answer left (cancelled); panels that still
 * did not close after OK had been pressed for two seconds (cancelled). */
int DesktopBridgeAnsweredPanels(void);
int DesktopBridgeUnexpectedPanels(void);
int DesktopBridgeRefusedPanels(void);

/* Forgets the answers not yet given and sets the three counts to zero. */
void DesktopBridgeResetPanelAnswers(void);

#ifdef __cplusplus
}
#endif

#endif
