/* sqlette 3.44.2 */
#ifndef SQLETTE_H
#define SQLETTE_H
typedef struct sqlette sqlette;
int sqlette_open(const char *path, sqlette **db);
int sqlette_exec(sqlette *db, const char *sql);
int sqlette_close(sqlette *db);
#endif
