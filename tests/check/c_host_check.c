/* A plain C99 host of iffpcx_check.h: checks the files it is given and
 * prints each verdict and the first finding's identifier as JSON says them;
 * exits 0 when the verdicts are the ones expected (argument pairs FILE VERDICT). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "iffpcx_check.h"

int main(int argc, char **argv) {
    int failures = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        iffpcx_report *report = NULL;
        iffpcx_error error;
        if (iffpcx_check_path(argv[i], NULL, &report, &error) != IFFPCX_OK) {
            fprintf(stderr, "%s\n", error.message);
            return 1;
        }
        size_t size = iffpcx_report_json(report, NULL, 0);
        char *json = malloc(size + 1);
        if (json == NULL) return 1;
        iffpcx_report_json(report, json, size + 1);
        printf("%s\n", json);
        if (strcmp(iffpcx_verdict_name(report->verdict), argv[i + 1]) != 0) ++failures;
        free(json);
        iffpcx_report_free(report);
    }
    return failures == 0 ? 0 : 1;
}
