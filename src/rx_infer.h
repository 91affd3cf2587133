/*
 * Pattern inference (rx_infer.cpp): cuts example texts into tokens and
 * synthesises an anchored pattern that matches every example, in a compact
 * one-line form and in a verbose "(?x)" layout of it.
 */
#ifndef RX_INFER_H
#define RX_INFER_H

/* 0 with two new heap texts (freed by the caller); -1 with the reason in the
 * error slot ("no examples", "out of memory"), outputs untouched. */
int rx_infer_pattern(const char *const *examples, int count, char **out_pattern, char **out_verbose);

#endif /* RX_INFER_H */
