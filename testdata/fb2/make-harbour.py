# Writes harbour-1251.fb2: a FictionBook in windows-1251 with every kind of
# line the reader knows, its notes body placed before the main body, and a
# base64 cover picture.
import base64
cover = base64.encodebytes(open('../epub/cover.png', 'rb').read()).decode()
fb2 = f'''<?xml version="1.0" encoding="windows-1251"?>
<!-- made for the reader tests -->
<FictionBook xmlns="http://www.gribuser.ru/xml/fictionbook/2.0" xmlns:l="http://www.w3.org/1999/xlink">
 <description>
  <title-info>
   <genre>sci_history</genre>
   <genre>adventure</genre>
   <author><first-name>Анна</first-name><middle-name>Сергеевна</middle-name><last-name>Морская</last-name></author>
   <author><last-name>Ветров</last-name></author>
   <author><nickname>Lighthouse Keeper</nickname></author>
   <book-title>Гавань &amp; маяк</book-title>
   <annotation><p>Первая строка.</p><p>Вторая <emphasis>строка</emphasis>.</p></annotation>
   <keywords>маяк, гавань, море</keywords>
   <date value="1998-07-01">лето 1998</date>
   <coverpage><image l:href="#cover.png"/></coverpage>
   <lang>ru</lang>
  </title-info>
  <document-info>
   <author><nickname>scanner</nickname></author>
   <program-used>hand</program-used>
   <date value="2004-02-29">2004</date>
   <id>harbour-1</id>
   <version>1.2</version>
  </document-info>
  <publish-info>
   <book-name>Морские повести</book-name>
   <publisher>Северное издательство</publisher>
   <year>1999</year>
  </publish-info>
 </description>
 <body name="notes">
  <title><p>Примечания</p></title>
  <section id="n1"><title><p>1</p></title><p>Сноска о маяке.</p></section>
 </body>
 <body>
  <epigraph><p>Море <strong>помнит</strong> всё.</p><text-author>Пословица</text-author></epigraph>
  <section>
   <title><p>Глава первая</p></title>
   <p>Маяк стоял на <emphasis>скале</emphasis>, а <a l:href="#n1" type="note">[1]</a> волны
   били   о камни.</p>
   <subtitle>* * *</subtitle>
   <empty-line/>
   <poem><title><p>Песня</p></title><stanza><v>Ветер с моря,</v><v>соль на губах.</v></stanza><date>1901</date></poem>
   <section>
    <p>Вложенная часть &lt;тег&gt; {{скобки}} \\ слэш.</p>
   </section>
  </section>
  <section>
   <table><tr><th>Имя</th><th>Год</th></tr><tr><td>Маяк</td><td>1887</td></tr></table>
   <cite><p>Цитата.</p><text-author>Автор</text-author></cite>
  </section>
 </body>
 <binary id="cover.png" content-type="image/png">
{cover} </binary>
</FictionBook>
'''
open('harbour-1251.fb2', 'wb').write(fb2.replace('\n', '\r\n').encode('cp1251'))
