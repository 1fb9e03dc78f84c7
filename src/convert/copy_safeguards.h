// What keeps a copy from passing for more than it is, for the converters
// alone: the Mark of the Web it takes from its source (mark_of_the_web.cpp),
// and the deletion mark that dooms it until it is whole (deletion_mark.cpp).
#ifndef PELMORA_COPY_SAFEGUARDS_H
#define PELMORA_COPY_SAFEGUARDS_H

#include "conversion.h"

#include <stdint.h>

// ntdll's calls about a file and its volume. SetFileInformationByHandle and
// its kin come only with Vista; these are on every NT version, and Pelmora
// still runs on XP. NtSetInformationFile, NtQueryInformationFile and
// NtQueryVolumeInformationFile share this signature; the status is an
// IO_STATUS_BLOCK, the information the class's own record.
typedef LONG(NTAPI *FileInformationCall)(HANDLE file, void *status, void *information, ULONG length,
                                         int informationClass);
FileInformationCall FindFileInformationCall(const char *name);

// What the volume that holds an open file says of itself, by its class of
// information. The handle, not the name, is asked: a name through a
// junction or a directory link names the volume the link is on, not the
// file's.
int QueryVolumeOf(HANDLE file, int informationClass, void *information, ULONG length);
enum { kFileFsDeviceInformation = 4, kFileFsAttributeInformation = 5 };

// The Mark of the Web: where a file came from (ZoneId=3, the Internet), in a
// stream beside its data. A mark is never longer than this.
enum { kMarkLimit = 65536 };

// Reads the source's mark whole, if it has one; *marked says whether it
// has. Fails when a mark may be there but cannot be read, which must stop
// the conversion: an unreadable mark must never become an unmarked copy.
int ReadMark(HANDLE source, const char *sourcePath, unsigned char *mark, uint32_t *size, int *marked);

// Gives the copy the source's mark, before the copy is doomed. Fails only
// where the copy must then go: on a volume that keeps streams, a copy more
// trusted than its source would be worse than none. *markBeside says
// whether the mark is a file of its own, to be removed with a failed copy.
int MarkCopy(HANDLE destination, const char *destinationPath, const unsigned char *mark, uint32_t size,
             int *markBeside);

// Removes a mark that is a file of its own beside the copy.
void RemoveMarkFile(const char *destinationPath);

// Sets or clears the copy's deletion mark, through its own handle.
int MarkForDeletion(HANDLE file, BOOLEAN doomed);

// Clears the copy's deletion mark and makes sure it is clear. *doomed says
// afterwards whether it is known to be still set.
int KeepCopy(HANDLE destination, int *doomed);

// Whether the copy's drive writes behind, so that only a flush tells
// whether the copy reached it.
int CopyWritesBehind(HANDLE destination, const char *destinationPath);

#endif
