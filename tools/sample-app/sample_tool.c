/* A small console program standing in for the companion registration tool of
   the sample payload: it does nothing and ends with exit code 0. */
int main(void) { return 0; }
