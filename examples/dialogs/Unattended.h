/* Answers the example's panels without a person, for the test suite. */
#ifndef DIALOGS_EXAMPLE_UNATTENDED_H
#define DIALOGS_EXAMPLE_UNATTENDED_H

/* From now on every modal panel is answered once it is on screen: an open panel with Cancel, a
 * save panel by typing the name it proposes (or "unattended.txt") and pressing Save. */
void AnswerPanelsUnattended(void);

#endif
