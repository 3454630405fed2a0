/* The machine-dependent half of jni.h for Windows x64, with the sizes JNI
 * gives these types: jint 32 bits, jlong 64 bits, jbyte a signed 8-bit
 * value. Entry points use the standard Windows calling
 * convention (the only one on x64) and are exported from the DLL. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
