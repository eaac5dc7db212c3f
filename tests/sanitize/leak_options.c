// SPDX-License-Identifier: MIT
/* Linked into sanitized test programs that load GL themselves: the leak
 * check at their exit uses the same named suppressions as the viewer's. */
const char *__lsan_default_options(void);

const char *__lsan_default_options(void)
{
    return "suppressions=" QUENDAL_LEAK_SUPPRESSIONS;
}
