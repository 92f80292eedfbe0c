-- json: read and write JSON text
export read, write
