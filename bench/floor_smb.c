/* The floor for a link on a share: a C program that does only what any
   client of Samba's library must, connect to the server and open the link
   there, then closes it and ends.  The user and password come from
   FLOOR_SMB_USER and FLOOR_SMB_PASSWORD.

     floor_smb smb://server:port/share/name.lnk */
#include <fcntl.h>
#include <libsmbclient.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void give(SMBCCTX *c, const char *server, const char *share, char *workgroup,
                 int workgroup_length, char *user, int user_length, char *password,
                 int password_length) {
  (void)c, (void)server, (void)share, (void)workgroup, (void)workgroup_length;
  snprintf(user, user_length, "%s", getenv("FLOOR_SMB_USER"));
  snprintf(password, password_length, "%s", getenv("FLOOR_SMB_PASSWORD"));
}

int main(int argc, char **argv) {
  if (argc != 2 || !getenv("FLOOR_SMB_USER") || !getenv("FLOOR_SMB_PASSWORD")) return 2;
  SMBCCTX *c = smbc_new_context();
  smbc_setFunctionAuthDataWithContext(c, give);
  if (!smbc_init_context(c)) return 1;
  SMBCFILE *f = smbc_getFunctionOpen(c)(c, argv[1], O_RDONLY, 0);
  if (!f) return 1;
  smbc_getFunctionClose(c)(c, f);
  return 0;
}
